// Finds and loads the batch tool's Qt module: beside the program in the build
// folder, or in the library folder of an installation, found from where the
// program itself is, so an unpacked package works wherever it is put.
#include <dlfcn.h>

#include <filesystem>
#include <system_error>

#include "batch/qt_parts.h"

namespace pelloran::batch {

namespace {

const char* const kModuleName = "pelloran-batch-qt.so";

std::expected<const QtParts*, std::string> load()
{
    std::error_code code;
    const auto program = std::filesystem::read_symlink("/proc/self/exe", code);
    if (code) return std::unexpected("无法找到程序自己的位置：" + code.message());
    const auto folder = program.parent_path();
    std::filesystem::path module;
    for (const auto& candidate :
         {folder / kModuleName, folder / PELLORAN_BATCH_MODULE_DIR / kModuleName}) {
        module = candidate.lexically_normal();
        if (std::filesystem::exists(module, code)) break;
    }
    void* handle = dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr)
        return std::unexpected("无法加载“" + module.string() + "”：" + dlerror());
    const auto entry = reinterpret_cast<QtPartsEntry>(dlsym(handle, kQtPartsEntry));
    if (entry == nullptr)
        return std::unexpected("“" + module.string() + "”不是本程序的模块：" + dlerror());
    return entry();
}

}  // namespace

std::expected<const QtParts*, std::string> qtParts()
{
    // The module stays loaded until the program ends; Qt cannot be unloaded.
    static const auto parts = load();
    return parts;
}

const session::Pictures* LazyPictures::loaded() const
{
    attempted_ = true;
    const auto parts = qtParts();
    return parts ? (*parts)->pictures : nullptr;
}

std::optional<bitmap::Picture> LazyPictures::readPng(std::span<const std::uint8_t> file) const
{
    const auto* pictures = loaded();
    if (pictures == nullptr) return std::nullopt;
    return pictures->readPng(file);
}

std::vector<std::uint8_t> LazyPictures::writePng(const bitmap::Picture& picture) const
{
    const auto* pictures = loaded();
    if (pictures == nullptr) return {};
    return pictures->writePng(picture);
}

bitmap::Picture LazyPictures::reduceColours(const bitmap::Picture& picture) const
{
    const auto* pictures = loaded();
    if (pictures == nullptr) return picture;
    return pictures->reduceColours(picture);
}

std::optional<std::string> LazyPictures::failure() const
{
    // Asked only after work that may have needed the module: if nothing did,
    // it was never loaded, and nothing failed.
    if (!attempted_) return std::nullopt;
    const auto parts = qtParts();
    if (parts) return std::nullopt;
    return parts.error();
}

}  // namespace pelloran::batch
