// Helpers for tests that touch real files: a private temporary folder and
// whole-file reads and writes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string_view>
#include <vector>

namespace pelloran::testing {

// A fresh folder under the system's temporary folder (or under `under`),
// removed with its contents when the object goes.
class TempDir {
public:
    explicit TempDir(const std::filesystem::path& under = std::filesystem::temp_directory_path());
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(std::string_view name) const { return path_ / name; }
    // Names of the files in the folder, sorted.
    std::vector<std::string> fileNames() const;

private:
    std::filesystem::path path_;
};

std::vector<std::uint8_t> readFile(const std::filesystem::path& path);

// A 24-bit 64 x 80 bitmap in which nearly every pixel has a colour of its own.
std::vector<std::uint8_t> manyColoursBitmap();
void writeFile(const std::filesystem::path& path, std::span<const std::uint8_t> bytes);

}  // namespace pelloran::testing
