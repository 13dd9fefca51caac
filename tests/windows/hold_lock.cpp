// Holds a file's writer lock as another program writing the pair would, until
// its input ends: the Windows harness starts it to see the lock between two
// processes (LockFileEx), not just two handles of one.
#include <cstdio>
#include <iostream>
#include <string>

#include "fileio/file.h"
#include "fileio/host.h"

int main(int argc, char* argv[])
{
    const auto arguments = pelloran::host::arguments(argc, argv);
    if (arguments.size() != 1) return 2;
    const std::string& name = arguments.front();
    auto& fs = pelloran::fileio::nativeFileSystem();
    const auto lock = fs.tryLock(std::filesystem::path(std::u8string(name.begin(), name.end())));
    if (!lock) return 1;
    std::puts("held");
    std::fflush(stdout);
    std::string line;
    while (std::getline(std::cin, line)) {
    }
    return 0;
}
