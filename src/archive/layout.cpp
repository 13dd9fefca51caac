#include "archive/layout.h"

#include <string>

namespace pelloran::archive {

const std::error_category& faultCategory()
{
    static const fileio::FaultCategory category("pelloran.archive", [](int value) -> std::string {
        switch (static_cast<Fault>(value)) {
            case Fault::TooShort:
                return "the archive ends before the record";
            case Fault::VerifyMismatch:
                return "the read-back differs from what was written";
        }
        return "unknown fault";
    });
    return category;
}

std::error_code make_error_code(Fault fault)
{
    return {static_cast<int>(fault), faultCategory()};
}

std::optional<std::filesystem::path> siblingArchivePath(const std::filesystem::path& largeArchive)
{
    return fileio::replaceTail(largeArchive, 5, U"T.S10");
}

}  // namespace pelloran::archive
