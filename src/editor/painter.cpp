#include "editor/painter.h"

#include <QComboBox>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>

#include "editor/form1.h"
#include "platform/paths.h"
#include "session/numbers.h"

namespace pelloran::editor {

using archive::Slot;

namespace {

// Long enough for a painter's save to end, short enough to feel at once.
constexpr int kSettleMilliseconds = 250;

QByteArray bytesOf(const std::filesystem::path& file)
{
    QFile in(platform::toQString(file));
    if (!in.open(QIODevice::ReadOnly)) return {};
    return in.readAll();
}

// Starts the painter on file; false when it could not be started.
bool openInPainter(const QString& file, QString& command)
{
    command = qEnvironmentVariable("PELLORAN_PAINTER");
    if (command.isEmpty())
        command = QSettings().value(QString::fromLatin1(kPainterCommandKey)).toString();
    if (command.isEmpty()) return QDesktopServices::openUrl(QUrl::fromLocalFile(file));
    QStringList arguments = QProcess::splitCommand(command);
    if (arguments.isEmpty()) return false;
    const QString program = arguments.takeFirst();
    arguments << file;
    return QProcess::startDetached(program, arguments);
}

}  // namespace

void editPainterSettings(QWidget* parent)
{
    const auto texts = session::painterSettingsTexts();
    const auto q = [](const std::string& text) { return QString::fromStdString(text); };
    QDialog dialog(parent);
    dialog.setWindowTitle(q(texts.title));
    auto* command = new QLineEdit(
        QSettings().value(QString::fromLatin1(kPainterCommandKey)).toString(), &dialog);
    command->setMinimumWidth(360);
    auto* format = new QComboBox(&dialog);
    format->addItem(QStringLiteral("BMP"), QStringLiteral("bmp"));
    format->addItem(QStringLiteral("PNG"), QStringLiteral("png"));
    format->setCurrentIndex(std::max(
        0, format->findData(QSettings().value(QString::fromLatin1(kPainterFormatKey)).toString())));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    auto* page = new QVBoxLayout(&dialog);
    page->addWidget(new QLabel(q(texts.command), &dialog));
    page->addWidget(command);
    page->addWidget(new QLabel(q(texts.format), &dialog));
    page->addWidget(format);
    page->addWidget(buttons);
    if (dialog.exec() != QDialog::Accepted) return;
    QSettings settings;
    settings.setValue(QString::fromLatin1(kPainterCommandKey), command->text().trimmed());
    settings.setValue(QString::fromLatin1(kPainterFormatKey), format->currentData());
}

PainterLink::PainterLink(Form1& form, Hooks hooks) : QObject(&form), form_(form), hooks_(hooks)
{
    settle_.setSingleShot(true);
    settle_.setInterval(kSettleMilliseconds);
    connect(&settle_, &QTimer::timeout, this, [this] { saved(); });
    // A painter that saves by writing a new file and renaming it over the old
    // one ends the watch of the file; the folder's change brings it back.
    connect(&watcher_, &QFileSystemWatcher::fileChanged, this, [this] { settle_.start(); });
    connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, [this] { settle_.start(); });
    connect(&form, &Form1::stateShown, this, [this] { follow(); });
}

PainterLink::~PainterLink()
{
    end();
}

void PainterLink::edit(Slot slot)
{
    end();
    const session::State& state = form_.session().state();
    const auto kind = QSettings().value(QString::fromLatin1(kPainterFormatKey)).toString() ==
                              QStringLiteral("png")
                          ? session::FileKind::Png
                          : session::FileKind::Bmp;
    // The portrait as shown: an import waiting in the slot is edited further.
    const auto bytes =
        session::exportFile(slot, state.slot(slot).preview, kind, form_.session().pictures());
    if (!bytes) return hooks_.tell(session::describe(bytes.error()));
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::CacheLocation) +
                           QStringLiteral("/painter");
    // The number's own name, so that the painter's title says which it is.
    const auto file = platform::toPath(folder) / session::packFileName(state.number, slot, kind);
    if (!QDir().mkpath(folder))
        return hooks_.tell(
            session::describe(fileio::Error{platform::toPath(folder), fileio::Operation::Write,
                                            std::make_error_code(std::errc::permission_denied)}));
    if (auto written = fileio::replaceFile(form_.session().fileSystem(), file, *bytes); !written)
        return hooks_.tell(session::describe(written.error()));

    file_ = file;
    pair_ = state.largeArchive;
    number_ = state.number;
    lastSeen_ = QByteArray(reinterpret_cast<const char*>(bytes->data()),
                           static_cast<qsizetype>(bytes->size()));
    watcher_.addPath(folder);
    watcher_.addPath(platform::toQString(file));
    QString command;
    if (!openInPainter(platform::toQString(file), command)) {
        hooks_.tell(session::painterNotStarted(command.toStdString()));
        end();
    }
}

void PainterLink::follow()
{
    // Another number or pair drops the pending imports, and with them what
    // the painter was editing.
    const session::State& state = form_.session().state();
    if (file_ && (state.largeArchive != pair_ || state.number != number_)) end();
}

void PainterLink::saved()
{
    if (!file_) return;
    // A message about the last save is up: this one is read when it closes.
    if (reading_) return settle_.start();
    const QString path = platform::toQString(*file_);
    if (!watcher_.files().contains(path) && QFile::exists(path)) watcher_.addPath(path);
    const QByteArray bytes = bytesOf(*file_);
    // Gone for a moment, or no new save (a painter touches its file often).
    if (bytes.isEmpty() || bytes == lastSeen_) return;
    lastSeen_ = bytes;
    reading_ = true;
    hooks_.take(*file_);
    reading_ = false;
}

void PainterLink::end()
{
    settle_.stop();
    if (!watcher_.files().isEmpty()) watcher_.removePaths(watcher_.files());
    if (!watcher_.directories().isEmpty()) watcher_.removePaths(watcher_.directories());
    if (file_) QFile::remove(platform::toQString(*file_));
    file_.reset();
    lastSeen_.clear();
}

}  // namespace pelloran::editor
