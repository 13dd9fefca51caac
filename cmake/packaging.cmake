# `make package`: a Debian package of what `cmake --install` installs.
# `make windows-package`: the Windows download, a zip and an installer.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pelloran)
set(CPACK_PACKAGE_VENDOR "Pelloran")
set(CPACK_PACKAGE_CONTACT "${PELLORAN_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Editor for the officer portraits of a portrait archive pair")
# Lines as the control file shows them: Debian's tools wrap nothing.
set(CPACK_PACKAGE_DESCRIPTION
    "Pelloran opens a pair of portrait archives (GRPFACES.S10 and GRPFACET.S10),
shows the large and the small portrait of each officer side by side, exports
them as 256-colour BMP or PNG files and writes pictures edited elsewhere back
into the archive records, verifying every write. Every write is journaled and
can be undone; a write cut short is rolled back when the pair is next opened.
.
The package also holds pelloran-batch, which exports, imports, compares and
lays out many portraits at once from a terminal or a script.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
# The Qt libraries it needs, as the system's own packages name them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The window's texts are Chinese: without a CJK font every button shows boxes.
# Qt's own dialogs speak Chinese only with its translations, which are welcome
# but not needed.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-wqy-zenhei | fonts-noto-cjk")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n")
# Only the program and its desktop files: the tests' and the benchmarks'
# helpers are never installed.
set(CPACK_STRIP_FILES ON)

if(WIN32)
    # Unpacked anywhere, the zip runs as it is: both programs (Qt and the C++
    # runtime linked in) and the README and licence as text files Notepad opens.
    set(CPACK_GENERATOR ZIP NSIS)
    set(CPACK_PACKAGE_FILE_NAME pelloran-${PROJECT_VERSION}-windows-x64)
    set(CPACK_PACKAGING_INSTALL_PREFIX /)
    set(CPACK_PACKAGE_INSTALL_DIRECTORY Pelloran)
    configure_file(${PROJECT_SOURCE_DIR}/README.md ${PROJECT_BINARY_DIR}/README.txt COPYONLY)
    configure_file(${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_BINARY_DIR}/LICENSE.txt COPYONLY)
    install(FILES ${PROJECT_BINARY_DIR}/README.txt ${PROJECT_BINARY_DIR}/LICENSE.txt DESTINATION .)

    # The installer: the licence to agree to, a Start-menu entry, an
    # uninstaller (NSIS always writes one), and the editor offered under
    # "Open with" for the portrait archives.
    set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_BINARY_DIR}/LICENSE.txt)
    set(CPACK_PACKAGE_EXECUTABLES pelloran Pelloran)
    set(CPACK_NSIS_EXECUTABLES_DIRECTORY .)
    set(CPACK_NSIS_INSTALLED_ICON_NAME pelloran.exe)
    set(CPACK_NSIS_DISPLAY_NAME "Pelloran ${PROJECT_VERSION}")
    set(CPACK_NSIS_PACKAGE_NAME Pelloran)
    set(CPACK_NSIS_MUI_ICON ${PELLORAN_ICON_DIR}/pelloran.ico)
    set(CPACK_NSIS_MUI_UNIICON ${PELLORAN_ICON_DIR}/pelloran.ico)
    set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
    # A 64-bit installer for 64-bit programs: it installs into the 64-bit
    # Program Files and writes the registry the programs read, and it runs
    # where they run (a 64-bit Wine too, so the check below can run it).
    set(CPACK_NSIS_DEFINES "Target amd64-unicode")
    set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
    # The registry lines below hold quotes, which CPack's own config file
    # would otherwise end its strings at.
    set(CPACK_VERBATIM_VARIABLES ON)
    set(CPACK_NSIS_EXTRA_INSTALL_COMMANDS [[
        WriteRegStr HKCR "Applications\pelloran.exe" "FriendlyAppName" "Pelloran"
        WriteRegStr HKCR "Applications\pelloran.exe\SupportedTypes" ".S10" ""
        WriteRegStr HKCR "Applications\pelloran.exe\shell\open\command" "" '"$INSTDIR\pelloran.exe" "%1"'
        WriteRegStr HKCR ".S10\OpenWithList\pelloran.exe" "" ""
    ]])
    set(CPACK_NSIS_EXTRA_UNINSTALL_COMMANDS [[
        DeleteRegKey HKCR "Applications\pelloran.exe"
        DeleteRegKey HKCR ".S10\OpenWithList\pelloran.exe"
    ]])
endif()
include(CPack)
