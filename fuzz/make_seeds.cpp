// Writes the starting corpus of every fuzz target: make-fuzz-seeds FOLDER
// gives FOLDER/<target>/<seed> for each target.
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "entries.h"

int main(int argc, char* argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make-fuzz-seeds FOLDER\n");
        return 2;
    }
    for (const auto& target : pelloran::fuzz::kTargets) {
        const std::filesystem::path folder = std::filesystem::path(argv[1]) / target.name;
        std::filesystem::create_directories(folder);
        for (const auto& seed : pelloran::fuzz::seedsFor(target.name)) {
            std::ofstream out(folder / seed.name, std::ios::binary | std::ios::trunc);
            out.write(reinterpret_cast<const char*>(seed.bytes.data()),
                      static_cast<std::streamsize>(seed.bytes.size()));
            if (!out) {
                std::fprintf(stderr, "make-fuzz-seeds: cannot write %s\n",
                             (folder / seed.name).c_str());
                return 1;
            }
        }
    }
    return 0;
}
