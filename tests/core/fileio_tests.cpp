// The file layer: whole-file replacement through a temporary file, reads that
// tolerate a missing file, and errors that name the file and the reason.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "fileio/file.h"
#include "support/faulty_file_system.h"
#include "support/test_files.h"

namespace {

using namespace pelloran;
using fileio::Operation;
using pelloran::testing::FaultyFileSystem;
using pelloran::testing::readFile;
using pelloran::testing::TempDir;
using pelloran::testing::writeFile;
using Bytes = std::vector<std::uint8_t>;
using Names = std::vector<std::string>;

constexpr std::size_t kMissing = ~std::size_t{0};

Bytes filled(std::size_t size, std::uint8_t salt)
{
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i % 253 + salt);
    return bytes;
}

TEST(ReplaceFile, LeavesExactlyTheNewBytesAndNothingElse)
{
    struct Row {
        const char* what;
        std::size_t oldSize;
        std::size_t newSize;
    };
    const Row rows[] = {
        {"no file yet", kMissing, 6198},
        {"a longer file", 10000, 6198},
        {"a shorter file", 100, 2358},
        {"a file of the same size", 2358, 2358},
        {"emptied", 500, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        TempDir dir;
        const auto path = dir / "face.bmp";
        if (row.oldSize != kMissing) writeFile(path, filled(row.oldSize, 1));
        const Bytes bytes = filled(row.newSize, 7);

        ASSERT_TRUE(fileio::replaceFile(fileio::nativeFileSystem(), path, bytes));
        EXPECT_EQ(readFile(path), bytes);
        EXPECT_EQ(dir.fileNames(), Names{"face.bmp"});
    }
}

// One file as the window saves it, and a pack of many, whose contents are
// made durable together after all are written: a failure at any step leaves
// every file as it was and no temporary behind.
TEST(ReplaceFiles, AFailureAtAnyStepLeavesTheOldFilesAndNoTemporary)
{
    const Bytes bytes = filled(6198, 7);
    for (std::size_t count : {std::size_t{1}, std::size_t{10}}) {
        for (std::size_t oldSize : {std::size_t{10000}, kMissing}) {
            TempDir dir;
            Names names;
            std::vector<fileio::Replacement> files;
            for (std::size_t i = 0; i < count; ++i) {
                names.push_back("face" + std::to_string(i) + ".bmp");
                files.push_back({dir / names.back(), bytes});
            }
            const Bytes old = oldSize == kMissing ? Bytes{} : filled(oldSize, 1);
            const auto reset = [&] {
                for (const auto& file : files) {
                    std::filesystem::remove(file.path);
                    if (oldSize != kMissing) writeFile(file.path, old);
                }
            };

            FaultyFileSystem counting;
            reset();
            ASSERT_TRUE(fileio::replaceFiles(counting, files));
            const std::size_t steps = counting.operationCount();

            for (auto mode : {FaultyFileSystem::Mode::Fail, FaultyFileSystem::Mode::ShortWrite}) {
                for (std::size_t k = 1; k <= steps; ++k) {
                    SCOPED_TRACE(
                        ::testing::Message()
                        << count << (oldSize == kMissing ? " new" : " existing") << " files, "
                        << (mode == FaultyFileSystem::Mode::Fail ? "failure" : "short write")
                        << " at step " << k);
                    reset();
                    FaultyFileSystem faulty;
                    faulty.failAt(static_cast<int>(k), mode);
                    const auto replaced = fileio::replaceFiles(faulty, files);
                    EXPECT_TRUE(faulty.injected());
                    // Only a failing rename leaves the files renamed before it new.
                    const auto failed = replaced ? files.end()
                                                 : std::ranges::find(files, replaced.error().path,
                                                                     &fileio::Replacement::path);
                    ASSERT_TRUE(replaced || failed != files.end());
                    const bool renaming =
                        !replaced && replaced.error().operation == Operation::Rename;
                    for (auto file = files.begin(); file != files.end(); ++file) {
                        if (replaced || (renaming && file < failed))
                            EXPECT_TRUE(readFile(file->path) == bytes);
                        else if (oldSize == kMissing)
                            EXPECT_FALSE(std::filesystem::exists(file->path));
                        else
                            EXPECT_TRUE(readFile(file->path) == old) << "an old file was touched";
                    }
                    auto left = dir.fileNames();
                    std::ranges::sort(left);
                    std::ranges::sort(names);
                    if (oldSize != kMissing || replaced) {
                        EXPECT_EQ(left, names);
                    } else if (!renaming) {
                        EXPECT_EQ(left, Names{});
                    }
                }
            }
        }
    }
}

// What a careful editor does to a file it saves over: a link keeps pointing
// at the file, which gets the new bytes; the file keeps its permission bits;
// a write-protected file, under either of two names, stops the whole
// replacement before anything is written.
TEST(ReplaceFiles, RespectsLinksPermissionsAndWriteProtection)
{
    namespace fs = std::filesystem;
    struct Row {
        const char* what;
        std::function<void(const TempDir&)> prepare;
        bool replaced;
        std::function<void(const TempDir&)> check;
    };
    const Bytes old = filled(300, 1), large = filled(6198, 2), small = filled(2358, 3);
    const Row rows[] = {
        {"the small name write-protected",
         [&](const TempDir& d) {
             writeFile(d / "faceT.BMP", old);
             fs::permissions(d / "faceT.BMP", fs::perms::owner_read);
         },
         false,
         [&](const TempDir& d) {
             EXPECT_FALSE(fs::exists(d / "face.bmp"));
             EXPECT_EQ(readFile(d / "faceT.BMP"), old);
             fs::permissions(d / "faceT.BMP", fs::perms::owner_all);
         }},
#ifndef _WIN32
        {"the large name a link",
         [&](const TempDir& d) {
             fs::create_directory(d / "real");
             writeFile(d / "real" / "portrait.bmp", old);
             fs::create_symlink("real/portrait.bmp", d / "face.bmp");
         },
         true,
         [&](const TempDir& d) {
             EXPECT_TRUE(fs::is_symlink(d / "face.bmp"));
             EXPECT_EQ(readFile(d / "real" / "portrait.bmp"), large);
             EXPECT_EQ(Names{"portrait.bmp"}, [&] {
                 Names names;
                 for (const auto& e : fs::directory_iterator(d / "real"))
                     names.push_back(e.path().filename().string());
                 return names;
             }());
         }},
        {"the large file private to its owner",
         [&](const TempDir& d) {
             writeFile(d / "face.bmp", old);
             fs::permissions(d / "face.bmp", fs::perms::owner_read | fs::perms::owner_write);
         },
         true,
         [&](const TempDir& d) {
             EXPECT_EQ(fs::status(d / "face.bmp").permissions(),
                       fs::perms::owner_read | fs::perms::owner_write);
         }},
        // A name in upper case must be found as existing by a pack too,
        // whose folder is listed once instead of a look-up per name.
        {"the small name a link",
         [&](const TempDir& d) {
             writeFile(d / "real.bmp", old);
             fs::create_symlink("real.bmp", d / "faceT.BMP");
         },
         true,
         [&](const TempDir& d) {
             EXPECT_TRUE(fs::is_symlink(d / "faceT.BMP"));
             EXPECT_EQ(readFile(d / "real.bmp"), small);
         }},
        {"the small file private to its owner",
         [&](const TempDir& d) {
             writeFile(d / "faceT.BMP", old);
             fs::permissions(d / "faceT.BMP", fs::perms::owner_read | fs::perms::owner_write);
         },
         true,
         [&](const TempDir& d) {
             EXPECT_EQ(fs::status(d / "faceT.BMP").permissions(),
                       fs::perms::owner_read | fs::perms::owner_write);
         }},
#endif
    };
    // Each row as a pair, the window's export, and as a pack of eight files,
    // which takes the path of many files at once.
    for (const bool pack : {false, true})
        for (const Row& row : rows) {
            SCOPED_TRACE(std::string(row.what) + (pack ? ", in a pack" : ""));
            TempDir dir;
            row.prepare(dir);
            FaultyFileSystem files;
            std::vector<fileio::Replacement> replacements = {{dir / "face.bmp", large},
                                                             {dir / "faceT.BMP", small}};
            const std::string others[] = {"a.bmp", "aT.BMP", "b.bmp", "bT.BMP", "c.bmp", "cT.BMP"};
            fileio::Result<void> replaced;
            if (pack) {
                for (const auto& name : others) replacements.push_back({dir / name, old});
                fileio::Replacing replacing(files, true);
                for (const auto& file : replacements)
                    if (replaced = replacing.add(file.path, file.bytes); !replaced) break;
                if (replaced) replaced = replacing.commit();
            } else {
                replaced = fileio::replaceFiles(files, replacements);
            }
            ASSERT_EQ(replaced.has_value(), row.replaced);
            if (replaced) {
                EXPECT_EQ(readFile(dir / "faceT.BMP"), small);
                // The new names are made durable once both files are in place.
                EXPECT_EQ(files.log().back().operation, Operation::Flush);
            } else {
                EXPECT_EQ(replaced.error().code, fileio::Fault::WriteProtected);
                EXPECT_EQ(replaced.error().path, dir / "faceT.BMP");
            }
            row.check(dir);
        }
}

TEST(ReplaceFile, ALeftoverTemporaryOfAnEarlierRunDoesNotBlockIt)
{
    TempDir dir;
    const auto path = dir / "face.bmp";
    writeFile(path, filled(6198, 1));

    // Learn the temporary name from a first run, then leave a file of that name
    // behind, as a run that was killed would.
    FaultyFileSystem fs;
    ASSERT_TRUE(fileio::replaceFile(fs, path, filled(6198, 2)));
    std::filesystem::path temporary;
    for (const auto& entry : fs.log()) {
        if (entry.operation == Operation::Open && entry.path != path) temporary = entry.path;
    }
    ASSERT_FALSE(temporary.empty());
    const Bytes leftover = filled(321, 3);
    writeFile(temporary, leftover);

    const Bytes bytes = filled(2358, 4);
    ASSERT_TRUE(fileio::replaceFile(fileio::nativeFileSystem(), path, bytes));
    EXPECT_EQ(readFile(path), bytes);
    EXPECT_EQ(readFile(temporary), leftover) << "someone else's file was reused";
    EXPECT_EQ(dir.fileNames().size(), 2u);
}

TEST(ReadAtMost, ReadsWhatTheFileHasAndNothingOfAMissingOne)
{
    struct Row {
        const char* what;
        std::size_t fileSize;
        std::uint64_t offset;
        std::size_t wanted;
        std::size_t expected;
    };
    const Row rows[] = {
        {"missing file", kMissing, 0, 16, 0},          {"empty file", 0, 0, 16, 0},
        {"offset past the end", 100, 200, 16, 0},      {"offset at the end", 100, 100, 16, 0},
        {"file ends inside", 100, 90, 16, 10},         {"whole span inside", 100, 10, 16, 16},
        {"span up to the last byte", 100, 84, 16, 16},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        TempDir dir;
        const auto path = dir / "GRPFACET.S10";
        const Bytes file = row.fileSize == kMissing ? Bytes{} : filled(row.fileSize, 1);
        if (row.fileSize != kMissing) writeFile(path, file);

        Bytes out(row.wanted, 0);
        const auto count = fileio::readAtMost(fileio::nativeFileSystem(), path, row.offset, out);
        ASSERT_TRUE(count.has_value()) << count.error().code.message();
        ASSERT_EQ(*count, row.expected);
        for (std::size_t k = 0; k < *count; ++k) EXPECT_EQ(out[k], file[row.offset + k]) << k;
        EXPECT_EQ(std::filesystem::exists(path), row.fileSize != kMissing);
    }
}

TEST(NativeFileSystem, ReportsTheFileAndTheSystemsReason)
{
    TempDir dir;
    writeFile(dir / "existing", filled(10, 1));
    std::filesystem::create_directory(dir / "folder");
    fileio::FileSystem& fs = fileio::nativeFileSystem();
    const auto opened = [](auto result) -> fileio::Result<void> {
        if (!result) return std::unexpected(result.error());
        return {};
    };

    struct Row {
        const char* what;
        std::function<fileio::Result<void>()> act;
        std::filesystem::path path;
        Operation operation;
        std::error_code reason;
    };
    const auto errc = [](std::errc e) { return std::make_error_code(e); };
#ifndef _WIN32
    // A pipe where a file is expected: refused at once, never waited on.
    ::mkfifo((dir / "fifo").c_str(), 0600);
#endif
    const Row rows[] = {
        {"reading a missing file", [&] { return opened(fs.openRead(dir / "missing")); },
         dir / "missing", Operation::Open, errc(std::errc::no_such_file_or_directory)},
        {"reading in a missing folder", [&] { return opened(fs.openRead(dir / "gone" / "x")); },
         dir / "gone" / "x", Operation::Open, errc(std::errc::no_such_file_or_directory)},
        {"updating a missing file", [&] { return opened(fs.openReadWrite(dir / "missing")); },
         dir / "missing", Operation::Open, errc(std::errc::no_such_file_or_directory)},
        {"reading a folder", [&] { return opened(fs.openRead(dir / "folder")); }, dir / "folder",
         Operation::Open, errc(std::errc::is_a_directory)},
        {"updating a folder", [&] { return opened(fs.openReadWrite(dir / "folder")); },
         dir / "folder", Operation::Open, errc(std::errc::is_a_directory)},
        {"creating an existing file", [&] { return opened(fs.createNew(dir / "existing")); },
         dir / "existing", Operation::Open, errc(std::errc::file_exists)},
        {"renaming a missing file", [&] { return fs.rename(dir / "missing", dir / "target"); },
         dir / "target", Operation::Rename, errc(std::errc::no_such_file_or_directory)},
        {"removing a missing file", [&] { return fs.remove(dir / "missing"); }, dir / "missing",
         Operation::Remove, errc(std::errc::no_such_file_or_directory)},
        {"flushing a missing folder", [&] { return fs.syncFolder(dir / "gone"); }, dir / "gone",
         Operation::Flush, errc(std::errc::no_such_file_or_directory)},
        {"reading at most from a folder",
         [&] {
             Bytes out(4);
             return opened(fileio::readAtMost(fs, dir / "folder", 0, out));
         },
         dir / "folder", Operation::Open, errc(std::errc::is_a_directory)},
#ifndef _WIN32
        {"reading a pipe", [&] { return opened(fs.openRead(dir / "fifo")); }, dir / "fifo",
         Operation::Open, make_error_code(fileio::Fault::NotRegularFile)},
        {"updating a pipe", [&] { return opened(fs.openReadWrite(dir / "fifo")); }, dir / "fifo",
         Operation::Open, make_error_code(fileio::Fault::NotRegularFile)},
        {"reading a device", [&] { return opened(fs.openRead("/dev/zero")); }, "/dev/zero",
         Operation::Open, make_error_code(fileio::Fault::NotRegularFile)},
#else
        // Windows' device names open a device in any folder.
        {"reading a device", [&] { return opened(fs.openRead(dir / "NUL")); }, dir / "NUL",
         Operation::Open, make_error_code(fileio::Fault::NotRegularFile)},
        {"updating a device", [&] { return opened(fs.openReadWrite(dir / "NUL")); }, dir / "NUL",
         Operation::Open, make_error_code(fileio::Fault::NotRegularFile)},
#endif
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const auto result = row.act();
        ASSERT_FALSE(result.has_value());
        const fileio::Error& error = result.error();
        EXPECT_EQ(error.path, row.path);
        EXPECT_EQ(error.operation, row.operation);
        EXPECT_TRUE(error.code == row.reason.default_error_condition()) << error.code.message();
        EXPECT_FALSE(error.code.message().empty());
        EXPECT_EQ(fileio::isNotFound(error), row.reason == std::errc::no_such_file_or_directory &&
                                                 row.operation == Operation::Open);
    }
    // None of the failures created or changed a file.
#ifndef _WIN32
    EXPECT_EQ(dir.fileNames(), (Names{"existing", "fifo", "folder"}));
#else
    EXPECT_EQ(dir.fileNames(), (Names{"existing", "folder"}));
#endif
    EXPECT_EQ(readFile(dir / "existing"), filled(10, 1));
}

}  // namespace
