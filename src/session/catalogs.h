// The compiled catalogs the build puts into the program (po/*.po through
// msgfmt; see cmake/catalogs.cmake), for language.cpp alone.
#pragma once

#include <span>

namespace pelloran::session {

struct EmbeddedCatalog {
    const char* code;                      // "en", as the .po file is named
    std::span<const unsigned char> bytes;  // the .mo file msgfmt wrote
};

std::span<const EmbeddedCatalog> embeddedCatalogs();

}  // namespace pelloran::session
