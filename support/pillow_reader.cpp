#include "support/pillow_reader.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "support/test_files.h"

namespace pelloran::testing {

namespace {

const char* const kPython = "/usr/bin/python3";

// Built by appending: gcc 12 at -O3 warns falsely about '"x" + string'.
std::string quoted(const std::filesystem::path& path)
{
    std::string text(1, '\'');
    text.append(path.string()).push_back('\'');
    return text;
}

std::string run(const std::string& command)
{
    std::string output;
#ifdef _MSC_VER
    const auto popen = _popen;
    const auto pclose = _pclose;
#endif
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return output;
    std::array<char, 65536> chunk{};
    while (const std::size_t n = std::fread(chunk.data(), 1, chunk.size(), pipe))
        output.append(chunk.data(), n);
    if (pclose(pipe) != 0) output.clear();
    return output;
}

}  // namespace

bool pillowAvailable()
{
    const std::string probe = std::string(kPython) + " -c 'import PIL.BmpImagePlugin' 2>/dev/null";
    return std::filesystem::exists(kPython) && std::system(probe.c_str()) == 0;
}

std::map<std::filesystem::path, PillowPicture> readWithPillow(
    const std::vector<std::filesystem::path>& files)
{
    TempDir dir;
    const auto list = dir / "files.txt";
    {
        std::ofstream out(list);
        for (const auto& file : files) out << file.string() << "\n";
    }
    const auto script =
        std::filesystem::path(PELLORAN_TEST_DATA_DIR) / "foreign" / "pillow_read_back.py";
    std::string command = kPython;
    command.append(" ").append(quoted(script)).append(" --list ").append(quoted(list));
    std::istringstream in(run(command));

    std::map<std::filesystem::path, PillowPicture> pictures;
    std::string word;
    while (in >> word && word == "file") {
        std::string path;
        std::getline(in >> std::ws, path);
        PillowPicture& picture = pictures[path];
        in >> word;
        if (word == "error") {
            std::getline(in >> std::ws, picture.error);
            continue;
        }
        picture.width = std::stoi(word);
        in >> picture.height >> picture.mode;
        const std::size_t count = static_cast<std::size_t>(picture.width) * picture.height;
        for (std::size_t i = 0; i < count && in >> word; ++i) {
            const auto colon = word.find(':');
            picture.indices.push_back(word[0] == '-' ? -1 : std::stoi(word.substr(0, colon)));
            picture.colours.push_back(
                static_cast<std::uint32_t>(std::stoul(word.substr(colon + 1), nullptr, 16)));
        }
    }
    return pictures;
}

}  // namespace pelloran::testing
