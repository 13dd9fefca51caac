# How a program of ours becomes a desktop program: installed into the
# system's bin folder, and on Windows carrying its version and icon. Each
# program is one call:
#   pelloran_program(pelloran "Pelloran portrait editor")
include(GNUInstallDirs)

set(PELLORAN_ICON_DIR ${PROJECT_SOURCE_DIR}/data/icons)

function(pelloran_program target description)
    if(WIN32)
        # Explorer's properties page reads VERSIONINFO; the first icon
        # resource is the one it shows for the file.
        set(PELLORAN_PROGRAM ${target})
        set(PELLORAN_DESCRIPTION "${description}")
        set(PELLORAN_ICON ${PELLORAN_ICON_DIR}/pelloran.ico)
        configure_file(${PROJECT_SOURCE_DIR}/data/pelloran.rc.in
                       ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc @ONLY)
        target_sources(${target} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc)
    endif()
    # A Windows download holds the programs at its top, as users expect.
    if(WIN32)
        install(TARGETS ${target} RUNTIME DESTINATION .)
    else()
        install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    endif()
endfunction()
