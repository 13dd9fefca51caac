#include "archive/layout.h"

#include <string>

namespace pelloran::archive {

namespace {

class FaultCategory final : public std::error_category {
public:
    const char* name() const noexcept override { return "pelloran.archive"; }
    std::string message(int value) const override
    {
        switch (static_cast<Fault>(value)) {
            case Fault::TooShort:
                return "the archive ends before the record";
            case Fault::VerifyMismatch:
                return "the read-back differs from what was written";
        }
        return "unknown fault";
    }
};

}  // namespace

const std::error_category& faultCategory()
{
    static const FaultCategory category;
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
