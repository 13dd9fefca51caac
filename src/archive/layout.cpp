#include "archive/layout.h"

namespace pelloran::archive {

fileio::Result<std::filesystem::path> siblingArchivePath(const std::filesystem::path& largeArchive)
{
    return fileio::replaceTail(largeArchive, 5, U"T.S10");
}

}  // namespace pelloran::archive
