#include "editor/form1.h"

#include <QFont>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cmath>

#include "platform/number_bar.h"
#include "platform/paths.h"

namespace pelloran::editor {

using archive::Slot;
using platform::MessageAnswer;
using platform::MessageButtons;
using platform::MessageIcon;

namespace {

const QString kArchiveFilter = QStringLiteral("头像文件(GRPFACES.S10)|GRPFACES.S10");
const QString kBitmapFilter = QStringLiteral("位图文件(*.bmp)|*.bmp|任意文件(*.*)|*.*");
const QString kBitmapExtension = QStringLiteral("Bmp");
const QString kNumberCaption = QStringLiteral("编号:");
const QString kNoticeTitle = QStringLiteral("说明");
const QString kWarningTitle = QStringLiteral("警告");
const QString kErrorTitle = QStringLiteral("错误");

constexpr int kClientWidth = 373;
constexpr int kClientHeight = 116;
constexpr int kPageStep = 10;

// A 1-based file position as the editor holds it, as a 0-based offset.
std::uint64_t toOffset(double position)
{
    return static_cast<std::uint64_t>(std::lround(position)) - 1;
}

// The system's reason, in words a user of this editor reads.
QString reasonText(const std::error_code& code)
{
    if (code.category() == fileio::faultCategory()) {
        switch (static_cast<fileio::Fault>(code.value())) {
            case fileio::Fault::ArchiveTooShort:
                return QStringLiteral("文件长度不足，不含当前编号的头像。");
            case fileio::Fault::VerifyMismatch:
                return QStringLiteral("写入后读回的内容与写入的内容不一致。");
            case fileio::Fault::ShortWrite:
                return QStringLiteral("系统只写入了一部分数据。");
            case fileio::Fault::ImportChanged:
                return QStringLiteral("图片在导入后已被修改、移动或删除，请重新导入。");
            case fileio::Fault::NameTooShort:
                return QStringLiteral("文件名太短，无法得出配套文件的名字。");
        }
    }
    const QString system = QString::fromLocal8Bit(code.message()).trimmed();
    QString words;
    if (code == std::errc::no_such_file_or_directory)
        words = QStringLiteral("文件不存在");
    else if (code == std::errc::permission_denied || code == std::errc::operation_not_permitted)
        words = QStringLiteral("没有访问权限");
    else if (code == std::errc::no_space_on_device)
        words = QStringLiteral("磁盘空间不足");
    else if (code == std::errc::read_only_file_system)
        words = QStringLiteral("磁盘是只读的");
    else if (code == std::errc::is_a_directory)
        words = QStringLiteral("这是一个文件夹");
    else if (code == std::errc::io_error)
        words = QStringLiteral("磁盘读写出错");
    return words.isEmpty() ? system : words + QStringLiteral("（") + system + QStringLiteral("）");
}

QString operationText(fileio::Operation operation)
{
    switch (operation) {
        case fileio::Operation::Open:
            return QStringLiteral("无法打开文件");
        case fileio::Operation::Read:
        case fileio::Operation::Size:
            return QStringLiteral("无法读取文件");
        case fileio::Operation::Write:
            return QStringLiteral("无法写入文件");
        case fileio::Operation::Flush:
            return QStringLiteral("无法保存文件");
        case fileio::Operation::Close:
            return QStringLiteral("无法关闭文件");
        case fileio::Operation::Rename:
        case fileio::Operation::Remove:
            return QStringLiteral("无法替换文件");
    }
    return QStringLiteral("无法访问文件");
}

QIcon drawnIcon()
{
    // A tiny portrait on a frame: drawn here rather than shipped as a file.
    QPixmap pixmap(32, 32);
    pixmap.fill(QColor(0x5a, 0x3a, 0x22));
    QPainter painter(&pixmap);
    painter.fillRect(3, 3, 26, 26, QColor(0xe8, 0xd8, 0xb0));
    painter.setBrush(QColor(0xd9, 0xa0, 0x70));
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(9, 6, 14, 16);
    painter.setBrush(QColor(0x30, 0x30, 0x60));
    painter.drawRect(7, 22, 18, 7);
    return QIcon(pixmap);
}

// The first bytes of a bitmap file, as many as the import check and
// write-back ever look at. A file that does not exist reads as none.
struct BitmapFile {
    std::array<std::uint8_t, bitmap::kImportReadSize> buffer{};
    std::size_t count = 0;
    std::span<const std::uint8_t> bytes() const { return std::span(buffer).first(count); }
};

fileio::Result<BitmapFile> readBitmapFile(fileio::FileSystem& fs, const std::filesystem::path& path)
{
    BitmapFile file;
    const auto count = fileio::readAtMost(fs, path, 0, file.buffer);
    if (!count) return std::unexpected(count.error());
    file.count = *count;
    return file;
}

// The picture of a record as a preview shows it; palette receives the
// record's colours.
QImage recordPicture(std::span<const std::uint8_t> record, int width, archive::RgbPalette& palette)
{
    const std::size_t pixelCount = record.size() - archive::SlotLayout::kPaletteBlockSize;
    archive::decodePalette(record.subspan(pixelCount), palette);
    return platform::indexedImage(palette, record.first(pixelCount), width);
}

}  // namespace

QString aboutText()
{
    const QStringList lines = {
        QStringLiteral("     Pelloran v1.2"),
        QString(),
        QString(),
        QStringLiteral("    这个工具可以修改Kestrova10中的人物小头像，"),
        QStringLiteral("选择头像文件后，可以导出修改，也可以自己选"),
        QStringLiteral("一张256色64×80或32×40的BMP图导入替换。"),
        QString(),
        QStringLiteral("            2004年7月6日"),
        QString(),
        QString(),
    };
    return lines.join(u'\r');
}

Form1::Form1(platform::CommonDialog& commonDialog, platform::MessageBoxes& messageBoxes,
             fileio::FileSystem& fileSystem, QWidget* parent)
    : QWidget(parent),
      CommonDialog1(commonDialog),
      messageBoxes_(messageBoxes),
      fileSystem_(fileSystem)
{
    createControls();
    connectHandlers();
    Form_Load();
}

Form1::~Form1() = default;

void Form1::createControls()
{
    setWindowTitle(QStringLiteral("Pelloran 头像编辑"));
    setWindowIcon(drawnIcon());
    setFixedSize(kClientWidth, kClientHeight);
    QFont font = this->font();
    font.setFamilies({QStringLiteral("宋体"), QStringLiteral("SimSun"),
                      QStringLiteral("WenQuanYi Zen Hei"), QStringLiteral("Noto Sans CJK SC")});
    font.setPointSize(9);
    setFont(font);

    auto button = [this](const char16_t* caption, QRect geometry, bool enabled) {
        auto* b = new QPushButton(QString::fromUtf16(caption), this);
        b->setGeometry(geometry);
        b->setEnabled(enabled);
        b->setAutoDefault(false);
        return b;
    };
    auto label = [this](const QString& caption, QRect geometry) {
        auto* l = new QLabel(caption, this);
        l->setGeometry(geometry);
        return l;
    };

    Pic1 = new platform::PictureBox(this);
    Pic1->setGeometry(8, 8, 68, 84);
    Pic2 = new platform::PictureBox(this);
    Pic2->setGeometry(88, 8, 36, 44);

    Command1 = button(u"打开文件", {136, 8, 68, 25}, true);
    Command3 = button(u"导出图片", {216, 8, 68, 25}, false);
    Command4 = button(u"导入图片", {296, 8, 68, 25}, false);
    Command5 = button(u"写 入", {136, 40, 68, 25}, false);
    Command2 = button(u"说 明", {216, 40, 68, 25}, true);
    Command6 = button(u"退 出", {296, 40, 68, 25}, true);

    Label1 = label(kNumberCaption, {80, 72, 57, 17});

    Option3 = new QRadioButton(QStringLiteral("史实武将"), this);
    Option3->setGeometry(136, 72, 81, 17);
    Option3->setToolTip(QStringLiteral("史实及其他人物头像"));
    Option3->setChecked(true);
    Option3->setEnabled(false);
    Option1 = new QRadioButton(QStringLiteral("新武将"), this);
    Option1->setGeometry(216, 72, 81, 17);
    Option1->setToolTip(QStringLiteral("新武将头像"));
    Option1->setEnabled(false);

    QFont rangeFont = font;
    rangeFont.setPointSize(9);
    rangeFont.setBold(true);
    Label2 = label(QString(), {8, 96, 25, 17});
    Label2->setFont(rangeFont);
    HScroll1 = new platform::NumberBar(this);
    HScroll1->setGeometry(32, 96, 297, 17);
    HScroll1->setRange(0, 32767);
    HScroll1->setSingleStep(1);
    HScroll1->setPageStep(kPageStep);
    HScroll1->setFocusPolicy(Qt::WheelFocus);
    HScroll1->setEnabled(false);
    Label3 = label(QString(), {336, 96, 25, 17});
    Label3->setFont(rangeFont);

    // At the fixed positions Label1's last column lies under Option3 and
    // Label2's under HScroll1. Their texts never reach it; leaving it out
    // keeps every change of the number from repainting the option button
    // (with Label1) and the range label (with the bar).
    for (QLabel* overlapped : {Label1, Label2})
        overlapped->setMask(QRegion(0, 0, overlapped->width() - 1, overlapped->height()));

    QWidget* order[] = {Command1, Command3, Command4, Command5, Command2,
                        Command6, Option3,  Option1,  HScroll1};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i) setTabOrder(order[i], order[i + 1]);
}

void Form1::connectHandlers()
{
    connect(Command1, &QPushButton::clicked, this, [this] { Command1_Click(); });
    connect(Command2, &QPushButton::clicked, this, [this] { Command2_Click(); });
    connect(Command3, &QPushButton::clicked, this, [this] { Command3_Click(); });
    connect(Command4, &QPushButton::clicked, this, [this] { Command4_Click(); });
    connect(Command5, &QPushButton::clicked, this, [this] { Command5_Click(); });
    connect(Command6, &QPushButton::clicked, this, [this] { Command6_Click(); });

    // The user moved the bar; the program's own moves block this signal and
    // call the handler themselves. By the time the signal arrives the bar
    // and the buttons have already changed, so the state to return to after a
    // failure is the number still shown and the range still selected.
    connect(HScroll1, &QScrollBar::valueChanged, this, [this] {
        Snapshot before = snapshot();
        before.number = shownNumber();
        if (!HScroll1_Change()) restore(before);
    });
    connect(Option1, &QRadioButton::toggled, this, [this](bool selected) {
        if (!selected) return;
        Snapshot before = snapshot();
        before.newRange = false;
        if (!Option1_Click()) restore(before);
    });
    connect(Option3, &QRadioButton::toggled, this, [this](bool selected) {
        if (!selected) return;
        Snapshot before = snapshot();
        before.newRange = true;
        if (!Option3_Click()) restore(before);
    });
}

void Form1::Form_Load()
{
    LargeRecordPos = archive::kLargeLayout.base + 1.0;
    SmallRecordPos = archive::kSmallLayout.base + 1.0;
    LargeBase = archive::kLargeLayout.base;
    SmallBase = archive::kSmallLayout.base;
    LargeRecordSize = archive::kLargeLayout.recordSize;
    SmallRecordSize = archive::kSmallLayout.recordSize;
    LargeWidth = static_cast<std::int16_t>(archive::kLargeLayout.width);
    SmallWidth = static_cast<std::int16_t>(archive::kSmallLayout.width);
    BitmapHeader = bitmap::headerTemplate();
}

Form1::SlotFields Form1::fieldsOf(Slot slot)
{
    if (slot == Slot::Large)
        return {LargeFilePath, LargeImportPath,     LargeRecordPos, LargeRecordSize,
                LargeWidth,    LargePalette,        LargePixels,    LargePending,
                Pic1,          largeImportedRecord_};
    return {SmallFilePath, SmallImportPath,     SmallRecordPos, SmallRecordSize,
            SmallWidth,    SmallPalette,        SmallPixels,    SmallPending,
            Pic2,          smallImportedRecord_};
}

// ---------------------------------------------------------------- opening

void Form1::Command1_Click()
{
    CommonDialog1.fileName = QString();
    CommonDialog1.filter = kArchiveFilter;
    CommonDialog1.initDir = QString();
    CommonDialog1.showOpen();
    if (CommonDialog1.fileName.isEmpty()) return;

    const std::filesystem::path large = platform::toPath(CommonDialog1.fileName);
    const auto small = archive::siblingArchivePath(large);
    if (!small) return showError(small.error());

    const Snapshot before = snapshot();
    if (!openArchives(large, *small)) restore(before);
}

bool Form1::openArchives(const std::filesystem::path& large, const std::filesystem::path& small)
{
    LargeFilePath = large;
    SmallFilePath = small;
    // The number last browsed is shown from the new pair first; the reset of
    // the range below then moves to number 1.
    if (!LoadPortrait(Slot::Large, LargeRecordPos, LargeWidth, LargeRecordSize)) return false;
    if (!LoadPortrait(Slot::Small, SmallRecordPos, SmallWidth, SmallRecordSize)) return false;

    Command5->setEnabled(false);
    Option1->setEnabled(true);
    Option3->setEnabled(true);
    HScroll1->setEnabled(true);
    // The option buttons are left alone: the range is the historical one
    // even if the new officers' button stays selected.
    if (!showRange(archive::kFirstNumber, archive::kLastHistoricalNumber)) return false;
    Label1->setText(kNumberCaption + QString::number(HScroll1->value()));
    return true;
}

// ---------------------------------------------------------------- browsing

bool Form1::HScroll1_Change()
{
    const auto previous = static_cast<std::int16_t>(HScroll1->value() - 1);
    LargeRecordPos = previous * LargeRecordSize + LargeBase + 1;
    SmallRecordPos = previous * SmallRecordSize + SmallBase + 1;
    if (!LoadPortrait(Slot::Large, LargeRecordPos, LargeWidth, LargeRecordSize)) return false;
    if (!LoadPortrait(Slot::Small, SmallRecordPos, SmallWidth, SmallRecordSize)) return false;
    Command5->setEnabled(false);
    Label1->setText(kNumberCaption + QString::number(HScroll1->value()));
    return true;
}

bool Form1::Option1_Click()
{
    return showRange(archive::kFirstNewNumber, archive::kLastNumber);
}

bool Form1::Option3_Click()
{
    return showRange(archive::kFirstNumber, archive::kLastHistoricalNumber);
}

bool Form1::showRange(int first, int last)
{
    {
        // Only the range's first number is shown; numbers the bar passes
        // through on the way are not loaded.
        const QSignalBlocker quiet(HScroll1);
        HScroll1->setMinimum(first);
        HScroll1->setMaximum(last);
    }
    Label2->setText(QString::number(HScroll1->minimum()));
    Label3->setText(QString::number(HScroll1->maximum()));
    return setNumber(first);
}

// Sets the bar as the program, and shows the number if it is not the one shown.
bool Form1::setNumber(int number)
{
    {
        const QSignalBlocker quiet(HScroll1);
        HScroll1->setValue(number);
    }
    if (HScroll1->value() == shownNumber()) return true;
    return HScroll1_Change();
}

int Form1::shownNumber() const
{
    return static_cast<int>(std::lround((LargeRecordPos - 1 - LargeBase) / LargeRecordSize)) + 1;
}

// ---------------------------------------------------------------- loading

bool Form1::LoadPortrait(Slot slot, double recordPosition, std::int16_t width, double recordSize)
{
    SlotFields slotFields = fieldsOf(slot);
    const auto size = static_cast<std::size_t>(recordSize);
    const std::size_t pixelCount = size - archive::SlotLayout::kPaletteBlockSize;
    assert(size <= archive::kMaxRecordSize && pixelCount <= slotFields.pixels.size());

    // The whole record is read before anything changes, so a failed read
    // leaves the previous portrait as it was.
    std::array<std::uint8_t, archive::kMaxRecordSize> buffer;
    const auto record = std::span(buffer).first(size);
    if (auto read =
            archive::readRecord(fileSystem_, slotFields.filePath, toOffset(recordPosition), record);
        !read) {
        showError(read.error());
        return false;
    }

    slotFields.picture->setPicture(recordPicture(record, width, slotFields.palette));
    std::ranges::copy(record.first(pixelCount), slotFields.pixels.begin());
    slotFields.pending = kFalse;
    Command3->setEnabled(true);
    Command4->setEnabled(true);
    return true;
}

// ---------------------------------------------------------------- export

void Form1::Command3_Click()
{
    CommonDialog1.fileName = QString();
    CommonDialog1.filter = kBitmapFilter;
    CommonDialog1.initDir = QString();
    CommonDialog1.defaultExt = kBitmapExtension;
    CommonDialog1.showSave();
    if (CommonDialog1.fileName.isEmpty()) return;

    // Both names are known before anything is written.
    const std::filesystem::path large = platform::toPath(CommonDialog1.fileName);
    const auto small = bitmap::smallBitmapPath(large);
    if (!small) return showError(small.error());

    for (const auto& [slot, path] :
         {std::pair{Slot::Large, large}, std::pair{Slot::Small, *small}}) {
        SlotFields slotFields = fieldsOf(slot);
        const archive::SlotLayout& layout = archive::layoutOf(slot);
        std::vector<std::uint8_t> record(slotFields.pixels.begin(),
                                         slotFields.pixels.begin() + layout.pixelBlockSize());
        for (int e = 0; e < archive::kPaletteEntries; ++e)
            record.insert(record.end(),
                          {slotFields.palette[3 * e + 2], slotFields.palette[3 * e + 1],
                           slotFields.palette[3 * e], 0});
        const auto file = bitmap::encodeRecord(slot, record);
        if (auto written = fileio::replaceFile(fileSystem_, path, file); !written)
            return showError(written.error());
    }
    showNotice(QStringLiteral("图片导出成功！"), kNoticeTitle);
}

// ---------------------------------------------------------------- import

void Form1::Command4_Click()
{
    CommonDialog1.fileName = QString();
    CommonDialog1.filter = kBitmapFilter;
    CommonDialog1.initDir = QString();
    CommonDialog1.showOpen();
    if (CommonDialog1.fileName.isEmpty()) return;

    // A file that does not exist reads as no bytes and fails the first check.
    const std::filesystem::path path = platform::toPath(CommonDialog1.fileName);
    const auto read = readBitmapFile(fileSystem_, path);
    if (!read) return showError(read.error());
    const auto file = read->bytes();
    if (CheckImportBitmap(file) != kTrue) return;

    // Routed by the height alone: 40 rows go to the small slot, 80 to the large.
    constexpr std::size_t kHeightByte = 22;
    const Slot slot =
        file[kHeightByte] == archive::kSmallLayout.height() ? Slot::Small : Slot::Large;
    SlotFields slotFields = fieldsOf(slot);
    std::vector<std::uint8_t> record(static_cast<std::size_t>(slotFields.recordSize));
    bitmap::recordFromBitmap(file, slot, record);

    slotFields.pending = kTrue;
    slotFields.importPath = path;
    archive::RgbPalette palette;
    slotFields.picture->setPicture(recordPicture(record, slotFields.width, palette));
    slotFields.importedRecord = std::move(record);
    Command5->setEnabled(true);
}

Bool16 Form1::CheckImportBitmap(std::span<const std::uint8_t> file)
{
    QString refusal;
    switch (bitmap::checkImport(file)) {
        case bitmap::ImportVerdict::Large:
        case bitmap::ImportVerdict::Small:
            return kTrue;
        case bitmap::ImportVerdict::NotPortraitBitmap:
            refusal = QStringLiteral("导入的图片必须为256色64×80或32×40的BMP图片！");
            break;
        case bitmap::ImportVerdict::BadWidth:
            refusal = QStringLiteral("导入的图片宽度必须为64或32像素！");
            break;
        case bitmap::ImportVerdict::BadHeight:
            refusal = QStringLiteral("导入的图片高度必须为80或40像素！");
            break;
    }
    showNotice(refusal, kWarningTitle);
    return kFalse;
}

// ---------------------------------------------------------------- write-back

void Form1::Command5_Click()
{
    // Slot by slot: a slot written stays written even if the next one fails,
    // and a failing slot stays pending so that the user can try again.
    for (Slot slot : {Slot::Large, Slot::Small}) {
        SlotFields slotFields = fieldsOf(slot);
        if (slotFields.pending != kTrue) continue;
        if (auto written = writeBack(slot); !written) return showError(written.error());
        slotFields.pending = kFalse;
    }
    showNotice(QStringLiteral("图片写入成功！"), kNoticeTitle);
}

fileio::Result<void> Form1::writeBack(Slot slot)
{
    SlotFields slotFields = fieldsOf(slot);
    const fileio::Error changed{slotFields.importPath, fileio::Operation::Read,
                                fileio::Fault::ImportChanged};

    // The file is read and checked again: since the import it may have been
    // edited, replaced or removed, and only what the user saw is written.
    const auto read = readBitmapFile(fileSystem_, slotFields.importPath);
    if (!read) return std::unexpected(read.error());
    const auto file = read->bytes();
    const auto verdict = bitmap::checkImport(file);
    const bool sameSlot = verdict == (slot == Slot::Large ? bitmap::ImportVerdict::Large
                                                          : bitmap::ImportVerdict::Small);
    if (!sameSlot) return std::unexpected(changed);

    std::array<std::uint8_t, archive::kMaxRecordSize> recordBuffer;
    const auto record =
        std::span(recordBuffer).first(static_cast<std::size_t>(slotFields.recordSize));
    bitmap::recordFromBitmap(file, slot, record);
    if (!std::ranges::equal(record, slotFields.importedRecord)) return std::unexpected(changed);

    return archive::writeRecord(fileSystem_, slotFields.filePath, toOffset(slotFields.recordPos),
                                record);
}

// ---------------------------------------------------------------- about, exit

void Form1::Command2_Click()
{
    showNotice(aboutText(), kNoticeTitle);
}

void Form1::Command6_Click()
{
    const auto answer =
        messageBoxes_.show(QStringLiteral("确定要退出本工具？"), QStringLiteral("退出"),
                           MessageIcon::Information, MessageButtons::YesNo);
    // Imports not yet written are given up: the user has been asked.
    if (answer == MessageAnswer::Yes) close();
}

// ---------------------------------------------------------------- plumbing

Form1::Snapshot Form1::snapshot() const
{
    return {static_cast<const EditorState&>(*this),
            Command3->isEnabled(),
            Command4->isEnabled(),
            Command5->isEnabled(),
            HScroll1->isEnabled(),
            Option1->isChecked(),
            HScroll1->minimum(),
            HScroll1->maximum(),
            HScroll1->value(),
            Label1->text(),
            Label2->text(),
            Label3->text(),
            Pic1->picture(),
            Pic2->picture()};
}

void Form1::restore(const Snapshot& before)
{
    static_cast<EditorState&>(*this) = before.state;
    Command3->setEnabled(before.exportEnabled);
    Command4->setEnabled(before.importEnabled);
    Command5->setEnabled(before.writeEnabled);
    Option1->setEnabled(before.numbersEnabled);
    Option3->setEnabled(before.numbersEnabled);
    HScroll1->setEnabled(before.numbersEnabled);
    {
        const QSignalBlocker quiet1(Option1);
        const QSignalBlocker quiet3(Option3);
        (before.newRange ? Option1 : Option3)->setChecked(true);
    }
    {
        const QSignalBlocker quiet(HScroll1);
        HScroll1->setRange(before.minimum, before.maximum);
        HScroll1->setValue(before.number);
    }
    Label1->setText(before.label1);
    Label2->setText(before.label2);
    Label3->setText(before.label3);
    Pic1->setPicture(before.large);
    Pic2->setPicture(before.small);
}

void Form1::showError(const fileio::Error& error)
{
    const QString path = platform::toQString(error.path);
    QString text;
    if (error.code == fileio::Fault::NameTooShort) {
        text = QStringLiteral("无法使用文件名“%1”：\r%2").arg(path, reasonText(error.code));
    } else {
        text = QStringLiteral("%1“%2”。\r原因：%3")
                   .arg(operationText(error.operation), path, reasonText(error.code));
    }
    messageBoxes_.show(text, kErrorTitle, MessageIcon::Critical, MessageButtons::Ok);
}

void Form1::showNotice(const QString& text, const QString& title)
{
    messageBoxes_.show(text, title, MessageIcon::Information, MessageButtons::Ok);
}

}  // namespace pelloran::editor
