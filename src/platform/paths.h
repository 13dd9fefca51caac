// Paths cross between Qt and the core as Unicode on every platform, never
// through the local 8-bit code page (Chinese folder names are common).
#pragma once

#include <QString>
#include <filesystem>

namespace pelloran::platform {

std::filesystem::path toPath(const QString& text);
QString toQString(const std::filesystem::path& path);

}  // namespace pelloran::platform
