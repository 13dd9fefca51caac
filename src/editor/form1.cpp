#include "editor/form1.h"

#include <QClipboard>
#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QFont>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSignalBlocker>
#include <algorithm>

#include "editor/application.h"
#include "editor/painter.h"
#include "editor/texts.h"
#include "editor/window_actions.h"
#include "platform/paths.h"
#include "session/numbers.h"

namespace pelloran::editor {

using archive::Slot;
using platform::MessageAnswer;
using platform::MessageButtons;
using platform::MessageIcon;

namespace {

QString archiveFilter()
{
    return translated("头像文件(GRPFACES.S10)|GRPFACES.S10");
}

QString bitmapFilter()
{
    return translated("位图文件(*.bmp)|*.bmp|PNG图片(*.png)|*.png|任意文件(*.*)|*.*");
}

const QString kBitmapExtension = QStringLiteral("Bmp");

constexpr int kClientWidth = 373;
constexpr int kClientHeight = 116;
constexpr int kPageStep = 10;

QString qText(const std::string& utf8)
{
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

}  // namespace

Form1::Form1(platform::CommonDialog& commonDialog, platform::MessageBoxes& messageBoxes,
             fileio::FileSystem& fileSystem, QWidget* parent)
    : QWidget(parent),
      CommonDialog1(commonDialog),
      session_(fileSystem, &pictures_),
      messageBoxes_(messageBoxes)
{
    createControls();
    connectHandlers();
    painter_ = new PainterLink(
        *this, {[this](const session::Message& message) { tell(message); },
                [this](const std::filesystem::path& file) { return importSave(file); }});
    addWindowActions(*this);
    Form_Load();
}

Form1::~Form1() = default;

void Form1::createControls()
{
    setWindowIcon(programIcon());
    setFixedSize(kClientWidth, kClientHeight);
    setAcceptDrops(true);
    QFont font = this->font();
    font.setFamilies({QStringLiteral("宋体"), QStringLiteral("SimSun"),
                      QStringLiteral("WenQuanYi Zen Hei"), QStringLiteral("Noto Sans CJK SC")});
    font.setPointSize(9);
    setFont(font);

    auto button = [this](QRect geometry, bool enabled) {
        auto* b = new QPushButton(this);
        b->setGeometry(geometry);
        b->setEnabled(enabled);
        b->setAutoDefault(false);
        return b;
    };
    auto label = [this](QRect geometry) {
        auto* l = new QLabel(this);
        l->setGeometry(geometry);
        return l;
    };

    Pic1 = new platform::PictureBox(this);
    Pic1->setGeometry(8, 8, 68, 84);
    Pic2 = new platform::PictureBox(this);
    Pic2->setGeometry(88, 8, 36, 44);

    Command1 = button({136, 8, 68, 25}, true);
    Command3 = button({216, 8, 68, 25}, false);
    Command4 = button({296, 8, 68, 25}, false);
    Command5 = button({136, 40, 68, 25}, false);
    Command2 = button({216, 40, 68, 25}, true);
    Command6 = button({296, 40, 68, 25}, true);

    Label1 = label({80, 72, 57, 17});

    Option3 = new QRadioButton(this);
    Option3->setGeometry(136, 72, 81, 17);
    Option3->setChecked(true);
    Option3->setEnabled(false);
    Option1 = new QRadioButton(this);
    Option1->setGeometry(216, 72, 81, 17);
    Option1->setEnabled(false);

    QFont rangeFont = font;
    rangeFont.setPointSize(9);
    rangeFont.setBold(true);
    Label2 = label({8, 96, 25, 17});
    Label2->setFont(rangeFont);
    HScroll1 = new platform::NumberBar(this);
    HScroll1->setGeometry(32, 96, 297, 17);
    HScroll1->setRange(0, 32767);
    HScroll1->setSingleStep(1);
    HScroll1->setPageStep(kPageStep);
    HScroll1->setFocusPolicy(Qt::WheelFocus);
    HScroll1->setEnabled(false);
    Label3 = label({336, 96, 25, 17});
    Label3->setFont(rangeFont);

    // At the fixed positions Label1's last column lies under Option3 and
    // Label2's under HScroll1. Their texts never reach it; leaving it out
    // keeps every change of the number from repainting the option button
    // (with Label1) and the range label (with the bar).
    for (QLabel* overlapped : {Label1, Label2})
        overlapped->setMask(QRegion(0, 0, overlapped->width() - 1, overlapped->height()));

    QWidget* order[] = {Pic1,     Command1, Command3, Command4, Command5, Command2,
                        Command6, Option3,  Option1,  HScroll1, Pic2};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i) setTabOrder(order[i], order[i + 1]);
    Pic1->setFocus();
    showCaptions();
}

void Form1::showCaptions()
{
    setWindowTitle(translated("Pelloran 头像编辑"));
    Command1->setText(translated("打开文件"));
    Command3->setText(translated("导出图片"));
    Command4->setText(translated("导入图片"));
    Command5->setText(translated("写 入"));
    Command2->setText(translated("说 明"));
    Command6->setText(translated("退 出"));
    Label1->setText(translated("编号:"));
    Option3->setText(translated("史实武将"));
    Option3->setToolTip(translated("史实及其他人物头像"));
    Option1->setText(translated("新武将"));
    Option1->setToolTip(translated("新武将头像"));
}

void Form1::chooseLanguage(const std::string& code)
{
    QSettings().setValue(kLanguageSetting, QString::fromStdString(code));
    useLanguage(code);
}

void Form1::connectHandlers()
{
    connect(Command1, &QPushButton::clicked, this, [this] { Command1_Click(); });
    connect(Command2, &QPushButton::clicked, this, [this] { Command2_Click(); });
    connect(Command3, &QPushButton::clicked, this, [this] { Command3_Click(); });
    connect(Command4, &QPushButton::clicked, this, [this] { Command4_Click(); });
    connect(Command5, &QPushButton::clicked, this, [this] { Command5_Click(); });
    connect(Command6, &QPushButton::clicked, this, [this] { Command6_Click(); });
    // The user moved the bar or chose a range; the program's own moves block
    // these signals.
    connect(HScroll1, &QScrollBar::valueChanged, this, [this] { HScroll1_Change(); });
    connect(Option1, &QRadioButton::toggled, this, [this](bool on) {
        if (on) Option1_Click();
    });
    connect(Option3, &QRadioButton::toggled, this, [this](bool on) {
        if (on) Option3_Click();
    });
}

void Form1::Form_Load()
{
    BitmapHeader = bitmap::headerTemplate();
    showState();
}

// ---------------------------------------------------------------- handlers

void Form1::Command1_Click()
{
    if (const auto chosen = askForFile(archiveFilter(), DialogKind::Open, FileFolder::Archives))
        openPair(*chosen);
}

void Form1::openPair(const std::filesystem::path& largeArchive)
{
    if (!mayDropEdits()) return;
    // A wrong file would open as black portraits without a word, and the
    // mistake show only when writing refuses: it is named before anything.
    if (const auto doubt = session_.doubtBeforeOpening(largeArchive); !doubt)
        return settle(doubt);
    else if (*doubt && tell(session::openAnywayQuestion(**doubt)) != MessageAnswer::Yes)
        return;
    const auto opened = session_.open(largeArchive);
    settle(opened);
    if (opened) emit archivesChanged();
    if (opened && opened->recovered) tell(session::recovered(*opened->recovered));
}

void Form1::undo()
{
    if (LargePending || SmallPending)
        if (tell(session::undoDropsImportQuestion()) != MessageAnswer::Yes) return;
    // Another program's operation is undone only once the user has said so.
    if (const auto next = session_.nextUndo(); next && *next && !session::isWriteBack(**next))
        if (tell(session::undoOthersQuestion(**next)) != MessageAnswer::Yes) return;
    const auto undone = session_.undo();
    settle(undone);
    if (!undone) return;
    emit archivesChanged();
    tell(session::undoDone(*undone));
}

void Form1::goTo(int number)
{
    if (!mayDropEdits()) return;
    settle(session_.goTo(number));
}

void Form1::askForNumber()
{
    const session::Message prompt = session::numberPrompt();
    if (const auto number = messageBoxes_.askNumber(qText(prompt.text), qText(prompt.title),
                                                    session_.state().number, archive::kFirstNumber,
                                                    archive::kLastNumber))
        goTo(*number);
}

void Form1::Command2_Click()
{
    tell(session::about());
}

void Form1::Command3_Click()
{
    // Only export sets the default extension; later dialogs keep it.
    CommonDialog1.defaultExt = kBitmapExtension;
    // The shown number's name, as a pack of the batch tool names it.
    const auto suggested =
        session::packFileName(session_.state().number, Slot::Large, session::FileKind::Bmp);
    const auto chosen =
        askForFile(bitmapFilter(), DialogKind::Save, FileFolder::Pictures, qText(suggested));
    if (!chosen) return;
    const auto exported = session_.exportPair(*chosen);
    if (!exported) return settle(exported);
    tell(session::exportDone(*chosen, *exported));
}

void Form1::Command4_Click()
{
    const auto chosen = askForFile(bitmapFilter(), DialogKind::Open, FileFolder::Pictures);
    if (!chosen) return;
    if (auto checked = CheckImportBitmap(*chosen)) accept(std::move(*checked));
}

void Form1::Command5_Click()
{
    if (auto written = session_.writePending(); !written) return settle(written);
    showState();
    emit archivesChanged();
    tell(session::writeDone());
}

void Form1::Command6_Click()
{
    // Imports not yet written are given up: the user has been asked.
    if (tell(session::exitQuestion()) != MessageAnswer::Yes) return;
    exitConfirmed_ = true;
    close();
    exitConfirmed_ = false;
}

void Form1::closeEvent(QCloseEvent* event)
{
    if (!exitConfirmed_ && (LargePending || SmallPending) &&
        tell(session::closeDropsImportQuestion()) != MessageAnswer::Yes)
        return event->ignore();
    QWidget::closeEvent(event);
}

void Form1::HScroll1_Change()
{
    if (!mayDropEdits()) return;
    settle(session_.showNumber(HScroll1->value()));
}

void Form1::Option1_Click()
{
    if (!mayDropEdits()) return;
    settle(session_.switchRange(session::Range::NewOfficers));
}

void Form1::Option3_Click()
{
    if (!mayDropEdits()) return;
    settle(session_.switchRange(session::Range::Historical));
}

void Form1::LoadPortrait(Slot slot)
{
    settle(session_.reload(slot));
}

std::optional<session::CheckedImport> Form1::CheckImportBitmap(const std::filesystem::path& file)
{
    return takeOrRefuse(
        [&](session::Colours colours) { return session_.checkImport(file, colours); });
}

std::optional<session::CheckedImport> Form1::takeOrRefuse(
    const std::function<session::Result<session::CheckedImport>(session::Colours)>& check)
{
    auto checked = check(session::Colours::Refuse);
    if (!checked && std::holds_alternative<session::TooManyColours>(checked.error())) {
        if (tell(session::describe(checked.error())) != MessageAnswer::Yes) return std::nullopt;
        checked = check(session::Colours::Reduce);
    }
    if (!checked) {
        tell(session::describe(checked.error()));
        return std::nullopt;
    }
    return std::move(*checked);
}

void Form1::accept(session::CheckedImport import)
{
    session_.acceptImport(std::move(import));
    showState();
}

bool Form1::mayDropEdits()
{
    if (!session_.hasEdits()) return true;
    // The question is modal; a bar still pressed would step on behind it.
    HScroll1->releasePress();
    if (tell(session::dropEditsQuestion()) == MessageAnswer::Yes) return true;
    showState();
    return false;
}

bool Form1::editPortrait(Slot slot, const std::function<bool(session::Record&)>& change,
                         session::Stroke stroke)
{
    const auto edited = session_.edit(slot, change, stroke);
    settle(edited);
    return edited && *edited;
}

void Form1::undoEdit()
{
    if (session_.undoEdit()) showState();
}

void Form1::redoEdit()
{
    if (session_.redoEdit()) showState();
}

void Form1::copyPortrait()
{
    const QWidget* focused = focusWidget();
    if (focused != Pic1 && focused != Pic2) return;
    // The portrait as shown: the preview's picture, in its palette's colours.
    QGuiApplication::clipboard()->setImage((focused == Pic1 ? Pic1 : Pic2)->picture());
}

void Form1::pastePicture()
{
    const QImage image = QGuiApplication::clipboard()->image();
    // Qt gives no image for a PNG it would not decode (too large, damaged);
    // its bytes then say why.
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    const QByteArray png = data ? data->data("image/png") : QByteArray();
    if (auto checked =
            takeOrRefuse([&](session::Colours colours) -> session::Result<session::CheckedImport> {
                if (image.isNull() && !png.isEmpty())
                    return session_.checkPictureBytes(
                        std::span(reinterpret_cast<const std::uint8_t*>(png.constData()),
                                  static_cast<std::size_t>(png.size())),
                        colours);
                if (image.isNull())
                    return std::unexpected(session::ImportRefusal{
                        {bitmap::Check::Format, {bitmap::DecodeFault::NotABitmap}}, {}});
                return session_.checkPicture(platform::pictureOf(image, false), {}, colours);
            }))
        accept(std::move(*checked));
}

void Form1::editInPainter()
{
    painter_->edit(focusWidget() == Pic2 ? Slot::Small : Slot::Large);
}

bool Form1::importSave(const std::filesystem::path& file)
{
    auto checked = CheckImportBitmap(file);
    if (!checked) return false;
    checked->file.clear();
    accept(std::move(*checked));
    return true;
}

void Form1::makeSmallFromLarge()
{
    if (auto made = takeOrRefuse([&](session::Colours) { return session_.smallFromLarge(); }))
        accept(std::move(*made));
}

void Form1::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::LanguageChange) {
        showCaptions();
        showState();
        emit languageChanged();
        return;
    }
    // Another program may have written the pair while the user was there:
    // what is shown catches up when the window is the user's again. A file
    // that cannot be read now is said by the next action that needs it.
    if (event->type() != QEvent::ActivationChange || !isActiveWindow()) return;
    if (!session_.state().pairOpen()) return;
    if (const auto changed = session_.catchUp(); changed && *changed) {
        showState();
        emit archivesChanged();
    }
}

void Form1::dragEnterEvent(QDragEnterEvent* event)
{
    if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void Form1::dropEvent(QDropEvent* event)
{
    std::vector<std::filesystem::path> files;
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile()) files.push_back(platform::toPath(url.toLocalFile()));
    if (files.empty()) return;
    event->acceptProposedAction();
    const auto extension = platform::toQString(files.front().extension());
    if (files.size() == 1 && extension.compare(QStringLiteral(".s10"), Qt::CaseInsensitive) == 0)
        return openPair(files.front());
    for (const auto& file : files)
        if (auto checked = CheckImportBitmap(file)) accept(std::move(*checked));
}

// ---------------------------------------------------------------- showing

QString Form1::settingsKey(FileFolder folder)
{
    return folder == FileFolder::Archives ? QStringLiteral("folders/archives")
                                          : QStringLiteral("folders/pictures");
}

QString Form1::startFolder(FileFolder folder) const
{
    const QString remembered = QSettings().value(settingsKey(folder)).toString();
    // A folder since removed or renamed would leave the dialog wherever the
    // system puts it; the archive's folder is the better guess then.
    if (!remembered.isEmpty() && QDir(remembered).exists()) return remembered;
    if (!session_.state().pairOpen()) return QString();
    return QFileInfo(platform::toQString(session_.state().largeArchive)).absolutePath();
}

std::optional<std::filesystem::path> Form1::askForFile(const QString& filter, DialogKind kind,
                                                       FileFolder folder, const QString& suggested)
{
    CommonDialog1.fileName = suggested;
    CommonDialog1.filter = filter;
    CommonDialog1.initDir = startFolder(folder);
    kind == DialogKind::Save ? CommonDialog1.showSave() : CommonDialog1.showOpen();
    if (CommonDialog1.fileName.isEmpty()) return std::nullopt;
    QSettings().setValue(settingsKey(folder), QFileInfo(CommonDialog1.fileName).absolutePath());
    return platform::toPath(CommonDialog1.fileName);
}

template <class T>
void Form1::settle(const session::Result<T>& result)
{
    // The controls go back to the session's state first, so that the bar
    // stands on the number shown while the message is up.
    showState();
    if (!result) {
        // A message box is modal and takes the mouse release for itself: a
        // bar still pressed would go on stepping, and failing, behind it.
        HScroll1->releasePress();
        tell(session::describe(result.error()));
    }
}

void Form1::showState()
{
    const session::State& state = session_.state();
    const bool open = state.pairOpen();
    bool portraitMoved = open && state.number != shownNumber_;

    LargeFilePath = state.largeArchive;
    SmallFilePath = state.smallArchive;
    LargeImportPath = state.large.lastImport;
    SmallImportPath = state.small.lastImport;
    LargeRecordPos = state.recordOffset(Slot::Large);
    SmallRecordPos = state.recordOffset(Slot::Small);
    LargePending = state.large.pending.has_value();
    SmallPending = state.small.pending.has_value();
    for (Slot slot : {Slot::Large, Slot::Small}) {
        const session::Record& loaded = state.slot(slot).loaded;
        const auto pixels = std::span(loaded).first(archive::layoutOf(slot).pixelBlockSize());
        archive::decodePalette(std::span(loaded).subspan(pixels.size()),
                               slot == Slot::Large ? LargePalette : SmallPalette);
        std::ranges::copy(pixels, slot == Slot::Large ? LargePixels.begin() : SmallPixels.begin());

        const session::Record& preview = state.slot(slot).preview;
        session::Record& painted = painted_[slot == Slot::Large ? 0 : 1];
        if (open && preview != painted) {
            (slot == Slot::Large ? Pic1 : Pic2)->setPicture(platform::recordPicture(slot, preview));
            painted = preview;
            portraitMoved = true;
        }
    }

    Command3->setEnabled(open);
    Command4->setEnabled(open);
    Command5->setEnabled(state.writeEnabled);
    Option1->setEnabled(open);
    Option3->setEnabled(open);
    HScroll1->setEnabled(open);
    {
        const QSignalBlocker quiet1(Option1);
        const QSignalBlocker quiet3(Option3);
        (state.chosenRange == session::Range::NewOfficers ? Option1 : Option3)->setChecked(true);
    }
    if (open) {
        const session::Numbers numbers = session::numbersOf(state.range);
        {
            const QSignalBlocker quiet(HScroll1);
            HScroll1->setRange(numbers.first, numbers.last);
            HScroll1->setValue(state.number);
        }
        Label1->setText(translated("编号:") + QString::number(state.number));
        Label2->setText(QString::number(numbers.first));
        Label3->setText(QString::number(numbers.last));
        shownNumber_ = state.number;
    }
    emit stateShown();
    if (portraitMoved) emit portraitChanged();
}

MessageAnswer Form1::tell(const session::Message& message)
{
    const MessageIcon icon =
        message.tone == session::Tone::Error ? MessageIcon::Critical : MessageIcon::Information;
    const MessageButtons buttons =
        message.tone == session::Tone::Question ? MessageButtons::YesNo : MessageButtons::Ok;
    return messageBoxes_.show(qText(message.text), qText(message.title), icon, buttons);
}

}  // namespace pelloran::editor
