// The round trip through the user's painting program: the portrait shown in a
// slot is written to a working file in the user's cache folder and opened in
// the painter; every save of that file is taken back as an import, the slot's
// pending import, until the number or the pair shown changes. Nothing is
// written to the archives until 写 入.
//
// The painter is PELLORAN_PAINTER when set (a command given the file's path
// as its last argument, for scripts and tests), else the one chosen in the
// painter settings, else the desktop's default program for the kind of file.
#pragma once

#include <QByteArray>
#include <QFileSystemWatcher>
#include <QObject>
#include <QString>
#include <QTimer>
#include <filesystem>
#include <functional>
#include <optional>

#include "session/messages.h"

namespace pelloran::editor {

class Form1;

// Where the painter settings are kept.
inline constexpr const char* kPainterCommandKey = "painter/command";
inline constexpr const char* kPainterFormatKey = "painter/format";  // "bmp" or "png"

// Lets the user choose the painting program and the working file's format,
// remembered in the settings.
void editPainterSettings(QWidget* parent);

class PainterLink final : public QObject {
public:
    struct Hooks {
        // Shows a message in the window's way.
        std::function<void(const session::Message&)> tell;
        // Takes a file as an import; says why and returns false when refused.
        std::function<bool(const std::filesystem::path&)> take;
    };
    PainterLink(Form1& form, Hooks hooks);
    // The working file goes with the window.
    ~PainterLink() override;

    // Writes the slot's shown portrait to the working file, opens it in the
    // painter and watches it, ending any earlier watch.
    void edit(archive::Slot slot);
    // The file watched, if any.
    const std::optional<std::filesystem::path>& workingFile() const { return file_; }

private:
    void follow();
    void saved();
    void end();

    Form1& form_;
    Hooks hooks_;
    QFileSystemWatcher watcher_;
    // A save comes as several changes (written, flushed, renamed into
    // place); the file is read once they have settled.
    QTimer settle_;
    std::optional<std::filesystem::path> file_;
    std::filesystem::path pair_;  // what was shown when the watch began
    int number_ = 0;
    // The file's bytes when last looked at: the same bytes again are no new
    // save, and a refused save is said once.
    QByteArray lastSeen_;
    bool reading_ = false;
};

}  // namespace pelloran::editor
