# `make package`: a Debian package of what `cmake --install` installs.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pelloran)
set(CPACK_PACKAGE_VENDOR "Pelloran")
set(CPACK_PACKAGE_CONTACT "Pelloran developers <pelloran@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Editor for the officer portraits of a portrait archive pair")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
# The Qt libraries it needs, as the system's own packages name them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Only the program and its desktop files: the tests' and the benchmarks'
# helpers are never installed.
set(CPACK_STRIP_FILES ON)
include(CPack)
