// Pictures as Pillow reads them (tests/data/foreign/pillow_read_back.py run
// by /usr/bin/python3): a reader written independently of ours. Many files
// are read by one Python process. Linux only; where Python or Pillow is
// missing (under Wine, say) tests skip.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace pelloran::testing {

struct PillowPicture {
    std::string error;  // Pillow's reason where it refused the file; then nothing else is set
    int width = 0;
    int height = 0;
    std::string mode;
    std::vector<int> indices;            // top row first; -1 where Pillow gives no palette
    std::vector<std::uint32_t> colours;  // 0xRRGGBB, top row first
};

bool pillowAvailable();

// Each file as Pillow reads it, by path; empty when the run failed.
std::map<std::filesystem::path, PillowPicture> readWithPillow(
    const std::vector<std::filesystem::path>& files);

}  // namespace pelloran::testing
