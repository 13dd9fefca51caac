// make-demo-archives [folder]: writes the synthetic GRPFACES.S10 and
// GRPFACET.S10 into folder (default: the working folder), creating it.
#include <filesystem>
#include <iostream>
#include <system_error>

#include "demo_archives.h"

int main(int argc, char* argv[])
{
    const std::filesystem::path folder = argc > 1 ? argv[1] : ".";
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) {
        std::cerr << "make-demo-archives: " << folder.string() << ": " << error.message() << '\n';
        return 1;
    }
    if (auto written = pelloran::demo::writeDemoArchives(folder); !written) {
        std::cerr << "make-demo-archives: " << written.error().path.string() << ": "
                  << written.error().code.message() << '\n';
        return 1;
    }
    std::cout << "demo archives written to " << folder.string() << '\n';
    return 0;
}
