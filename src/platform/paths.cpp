#include "platform/paths.h"

namespace pelloran::platform {

std::filesystem::path toPath(const QString& text)
{
    return std::filesystem::path(text.toStdU16String());
}

QString toQString(const std::filesystem::path& path)
{
    return QString::fromStdU16String(path.u16string());
}

}  // namespace pelloran::platform
