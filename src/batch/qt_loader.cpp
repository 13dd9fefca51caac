// Finds and loads the batch tool's Qt module: beside the program in the build
// folder, or in the library folder of an installation, found from where the
// program itself is, so an unpacked package works wherever it is put.
#include <filesystem>
#include <system_error>

#include "batch/qt_parts.h"
#include "fileio/host.h"
#include "platform/png_file.h"
#include "session/messages.h"

namespace pelloran::batch {

namespace {

#ifdef _WIN32
const char* const kModuleName = "pelloran-batch-qt.dll";
#else
const char* const kModuleName = "pelloran-batch-qt.so";
#endif

std::expected<const QtParts*, std::string> load()
{
#ifdef PELLORAN_BATCH_QT_LINKED
    // Linked into the program (Windows): there is nothing to load.
    return pelloranBatchQtParts();
#else

    using session::ModuleProblem;
    const auto program = host::programFile();
    if (!program)
        return std::unexpected(
            session::moduleProblem(ModuleProblem::ProgramNotFound, {}, program.error()));
    const auto folder = program->parent_path();
    std::filesystem::path module;
    for (const auto& candidate :
         {folder / kModuleName, folder / PELLORAN_BATCH_MODULE_DIR / kModuleName}) {
        module = candidate.lexically_normal();
        std::error_code code;
        if (std::filesystem::exists(module, code)) break;
    }
    const auto loaded = host::Module::load(module);
    if (!loaded)
        return std::unexpected(
            session::moduleProblem(ModuleProblem::NotLoaded, module, loaded.error()));
    const auto entry = loaded->function(kQtPartsEntry);
    if (!entry)
        return std::unexpected(
            session::moduleProblem(ModuleProblem::NotOurs, module, entry.error()));
    return reinterpret_cast<QtPartsEntry>(*entry)();
#endif
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
    // libpng alone: a PNG pack costs no module.
    return platform::writePng(picture);
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
