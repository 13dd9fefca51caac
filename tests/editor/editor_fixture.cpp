#include "editor/editor_fixture.h"

#include <QApplication>
#include <QImage>
#include <QPixmap>
#include <QPushButton>
#include <QScrollBar>
#include <QSettings>
#include <QTemporaryDir>

#include "bitmap/bitmap.h"
#include "platform/paths.h"
#include "session/language.h"

namespace pelloran::testing {

using archive::Slot;

std::uint8_t patternIndex(Slot slot, int number, int x, int y)
{
    return static_cast<std::uint8_t>(y * archive::layoutOf(slot).width + x + number);
}

QRgb patternColour(Slot slot, int number, std::uint8_t index)
{
    const int n = number & 0xFF;
    return slot == Slot::Large ? qRgb(index, 255 - index, n) : qRgb(n, index, 255 - index);
}

namespace {

std::vector<std::uint8_t> drawPatternArchive(Slot slot)
{
    const archive::SlotLayout& layout = archive::layoutOf(slot);
    std::vector<std::uint8_t> bytes(archive::fullArchiveSize(layout), 0x5A);
    for (int number = archive::kFirstNumber; number <= archive::kLastNumber; ++number) {
        std::uint8_t* record = bytes.data() + archive::recordOffset(layout, number);
        for (std::uint32_t i = 0; i < layout.pixelBlockSize(); ++i)
            record[i] = static_cast<std::uint8_t>(i + number);
        std::uint8_t* palette = record + layout.pixelBlockSize();
        for (int e = 0; e < archive::kPaletteEntries; ++e) {
            const QRgb colour = patternColour(slot, number, static_cast<std::uint8_t>(e));
            palette[4 * e] = static_cast<std::uint8_t>(qBlue(colour));
            palette[4 * e + 1] = static_cast<std::uint8_t>(qGreen(colour));
            palette[4 * e + 2] = static_cast<std::uint8_t>(qRed(colour));
            palette[4 * e + 3] = 0xEE;
        }
    }
    return bytes;
}

}  // namespace

const std::vector<std::uint8_t>& patternArchive(Slot slot)
{
    static const auto large = drawPatternArchive(Slot::Large);
    static const auto small = drawPatternArchive(Slot::Small);
    return slot == Slot::Large ? large : small;
}

WindowFixture::WindowFixture()
{
    // Each test starts as a first run, in the source language.
    QSettings().clear();
    session::chooseLanguage(session::kSourceLanguage);
    form = std::make_unique<editor::Form1>(dialog, messages, files);
    form->show();
}

WindowFixture::~WindowFixture() = default;

std::filesystem::path WindowFixture::writeArchives()
{
    writeFile(largeArchive(), patternArchive(Slot::Large));
    writeFile(smallArchive(), patternArchive(Slot::Small));
    return largeArchive();
}

void WindowFixture::open(const std::filesystem::path& path)
{
    dialog.answer(platform::toQString(path));
    form->Command1->click();
}

void WindowFixture::browseTo(int number)
{
    form->HScroll1->setValue(number);
}

void WindowFixture::exportAs(const std::string& name)
{
    dialog.answer(platform::toQString(folder / name));
    form->Command3->click();
}

void WindowFixture::import(const std::filesystem::path& path)
{
    dialog.answer(platform::toQString(path));
    form->Command4->click();
}

void WindowFixture::write()
{
    form->Command5->click();
}

std::filesystem::path WindowFixture::editedBitmap(Slot slot, int number, int x, int y,
                                                  std::uint8_t index, const std::string& name)
{
    const archive::SlotLayout& layout = archive::layoutOf(slot);
    const auto start = patternArchive(slot).begin() +
                       static_cast<std::ptrdiff_t>(archive::recordOffset(layout, number));
    std::vector<std::uint8_t> record(start, start + layout.recordSize);
    record[static_cast<std::size_t>(y) * layout.width + static_cast<std::size_t>(x)] = index;
    writeFile(folder / name, bitmap::encodeRecord(slot, record));
    return folder / name;
}

QRgb WindowFixture::shownPixel(platform::PictureBox* picture, int x, int y)
{
    const QImage shot = picture->grab().toImage();
    const QPoint origin = picture->contentsRect().topLeft();
    return shot.pixel(origin.x() + x, origin.y() + y);
}

::testing::AssertionResult WindowFixture::showsNumber(Slot slot, int number) const
{
    platform::PictureBox* picture = slot == Slot::Large ? form->Pic1 : form->Pic2;
    const archive::SlotLayout& layout = archive::layoutOf(slot);
    const QImage shot = picture->grab().toImage();
    const QPoint origin = picture->contentsRect().topLeft();
    for (int y = 0; y < layout.height(); ++y)
        for (int x = 0; x < layout.width; ++x) {
            const QRgb expected = patternColour(slot, number, patternIndex(slot, number, x, y));
            const QRgb seen = shot.pixel(origin.x() + x, origin.y() + y);
            if (qRgb(qRed(seen), qGreen(seen), qBlue(seen)) != expected)
                return ::testing::AssertionFailure()
                       << "pixel (" << x << ", " << y << ") is #" << std::hex << seen << ", number "
                       << std::dec << number << " has #" << std::hex << expected;
        }
    return ::testing::AssertionSuccess();
}

}  // namespace pelloran::testing

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    // Without an organization Windows keeps no settings at all (the program
    // names its own in runEditor()).
    QApplication::setOrganizationName(QStringLiteral("Pelloran tests"));
    // The window's remembered settings go to a folder of this process's own,
    // never the user's, and never another test process's.
    const QTemporaryDir settings;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
    // The painter's working files likewise.
    qputenv("XDG_CACHE_HOME", settings.path().toUtf8());
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
