# `make package`: a Debian package of what `cmake --install` installs.
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
include(CPack)
