// The window's texts for Qt: a Chinese source text of the catalog (see
// session/language.h) in the chosen language.
#pragma once

#include <QString>

#include "session/language.h"

namespace pelloran::editor {

inline QString translated(const char* text)
{
    return QString::fromUtf8(session::tr(text));
}

}  // namespace pelloran::editor
