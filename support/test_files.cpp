#include "support/test_files.h"

#include <algorithm>
#include <atomic>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>

namespace pelloran::testing {

TempDir::TempDir(const std::filesystem::path& under)
{
    static std::atomic<int> counter{0};
    std::random_device random;
    const auto name = "pelloran-test-" + std::to_string(random()) + "-" + std::to_string(counter++);
    path_ = under / name;
    std::filesystem::create_directories(path_);
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::vector<std::string> TempDir::fileNames() const
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path_))
        names.push_back(entry.path().filename().string());
    std::ranges::sort(names);
    return names;
}

std::vector<std::uint8_t> readFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) throw std::runtime_error("cannot read " + path.string());
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(in.tellg()));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!in) throw std::runtime_error("cannot read " + path.string());
    return bytes;
}

void writeFile(const std::filesystem::path& path, std::span<const std::uint8_t> bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::vector<std::uint8_t> manyColoursBitmap()
{
    std::vector<std::uint8_t> file(54 + 64 * 3 * 80);
    const auto put32 = [&](std::size_t at, std::uint32_t value) {
        for (int i = 0; i < 4; ++i) file[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
    };
    file[0] = 'B', file[1] = 'M';
    put32(2, static_cast<std::uint32_t>(file.size()));
    put32(10, 54), put32(14, 40), put32(18, 64), put32(22, 80);
    file[26] = 1, file[28] = 24;
    for (std::size_t pixel = 0; pixel < 64 * 80; ++pixel) {
        file[54 + 3 * pixel] = static_cast<std::uint8_t>(pixel);
        file[55 + 3 * pixel] = static_cast<std::uint8_t>(pixel >> 8);
        file[56 + 3 * pixel] = 0x80;
    }
    return file;
}

}  // namespace pelloran::testing
