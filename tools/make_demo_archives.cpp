// make-demo-archives [folder]: writes the synthetic GRPFACES.S10 and
// GRPFACET.S10 into folder (default: the working folder), creating it.
#include <filesystem>
#include <iostream>
#include <string>
#include <system_error>

#include "demo_archives.h"

namespace {

std::string printable(const std::filesystem::path& path)
{
    const std::u8string text = path.u8string();
    return {text.begin(), text.end()};
}

}  // namespace

// On Windows the wide entry point, so that a Chinese folder name arrives whole
// rather than through the local code page.
#ifdef _WIN32
int wmain(int argc, wchar_t* argv[])
#else
int main(int argc, char* argv[])
#endif
{
    const std::filesystem::path folder = argc > 1 ? std::filesystem::path(argv[1]) : ".";
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) {
        std::cerr << "make-demo-archives: " << printable(folder) << ": " << error.message() << '\n';
        return 1;
    }
    if (auto written = pelloran::demo::writeDemoArchives(folder); !written) {
        std::cerr << "make-demo-archives: " << printable(written.error().path) << ": "
                  << written.error().code.message() << '\n';
        return 1;
    }
    std::cout << "demo archives written to " << printable(folder) << '\n';
    return 0;
}
