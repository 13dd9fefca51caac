#include "editor/window_actions.h"

#include <QAction>
#include <QActionGroup>
#include <QEvent>
#include <QKeySequence>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSettings>
#include <functional>
#include <memory>
#include <vector>

#include "editor/closer_look.h"
#include "editor/form1.h"
#include "editor/gallery.h"
#include "editor/painter.h"
#include "editor/texts.h"

namespace pelloran::editor {

namespace {

using session::N_;

constexpr int kGapBesideForm = 8;

// Keeps an added window's place and size in the settings under key each time
// it is hidden (closed, or closed with the main window), for the next time it
// is made, in this run or a later one.
class PlaceKeeper final : public QObject {
public:
    PlaceKeeper(QWidget& view, QString key) : QObject(&view), key_(std::move(key))
    {
        view.installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Hide)
            QSettings().setValue(key_, static_cast<QWidget*>(watched)->saveGeometry());
        return false;
    }

private:
    QString key_;
};

// Where an added window goes the first time: beside the main window, right of
// it where the screen has room, else left of it, never over it.
void placeBeside(QWidget& view, const QWidget& form)
{
    const QRect main = form.frameGeometry();
    const QRect screen = form.screen()->availableGeometry();
    const int width = view.frameGeometry().width();
    int left = main.right() + 1 + kGapBesideForm;
    if (left + width > screen.right() + 1 && main.left() - kGapBesideForm - width >= screen.left())
        left = main.left() - kGapBesideForm - width;
    view.move(left, main.top());
}

// One added window per main window, made when first asked for and raised
// when asked for again. It opens where it was last left, or beside the main
// window, and Escape closes it.
template <class View>
void showOnce(Form1& form, QPointer<View>& view, const QString& settingsKey)
{
    if (!view) {
        view = new View(form);
        const QByteArray place = QSettings().value(settingsKey).toByteArray();
        if (place.isEmpty() || !view->restoreGeometry(place)) placeBeside(*view, form);
        new PlaceKeeper(*view, settingsKey);
        auto* closeOnEscape = new QAction(view);
        closeOnEscape->setShortcut(QKeySequence(Qt::Key_Escape));
        QObject::connect(closeOnEscape, &QAction::triggered, view, &QWidget::close);
        view->addAction(closeOnEscape);
    }
    view->show();
    view->raise();
    view->activateWindow();
}

// The languages the window speaks, each named in itself and the one spoken
// checked; a choice is remembered for later runs.
void addLanguageMenu(Form1& form)
{
    auto* menu = new QMenu(&form);
    auto* choices = new QActionGroup(menu);
    for (const std::string& code : session::languages()) {
        QAction* choice = menu->addAction(QString::fromStdString(session::languageName(code)));
        choice->setCheckable(true);
        choice->setData(QString::fromStdString(code));
        choices->addAction(choice);
        QObject::connect(choice, &QAction::triggered, &form,
                         [&form, code] { form.chooseLanguage(code); });
    }
    auto* separator = new QAction(&form);
    separator->setSeparator(true);
    form.addAction(separator);
    auto* entry = new QAction(&form);
    entry->setMenu(menu);
    form.addAction(entry);
    auto show = [entry, choices] {
        // TRANSLATORS: the menu of languages; keep "(Language)" in a
        // language other than English, so that anyone can find it.
        entry->setText(translated("语言 (Language)"));
        const QString chosen = QString::fromStdString(session::chosenLanguage());
        for (QAction* choice : choices->actions()) choice->setChecked(choice->data() == chosen);
    };
    QObject::connect(&form, &Form1::languageChanged, entry, show);
    show();
}

}  // namespace

void addWindowActions(Form1& form)
{
    // A right click on any control lands on the window's menu; the bar would
    // otherwise offer Qt's own scroll menu instead.
    form.setContextMenuPolicy(Qt::ActionsContextMenu);
    form.HScroll1->setContextMenuPolicy(Qt::NoContextMenu);

    struct Entry {
        QAction* action;
        const char* text;  // the source text of its caption
        std::function<bool()> enabled;
    };
    auto entries = std::make_shared<std::vector<Entry>>();
    auto add = [&form, &entries](const char* text, const QKeySequence& shortcut,
                                 std::function<void()> run, std::function<bool()> enabled) {
        auto* action = new QAction(translated(text), &form);
        action->setShortcut(shortcut);
        action->setShortcutVisibleInContextMenu(true);
        QObject::connect(action, &QAction::triggered, &form, std::move(run));
        form.addAction(action);
        entries->push_back({action, text, std::move(enabled)});
    };
    auto followsButton = [](QPushButton* button) {
        return [button] { return button->isEnabled(); };
    };
    auto pairOpen = [&form] { return form.session().state().pairOpen(); };

    add(
        N_("打开文件"), QKeySequence(Qt::CTRL | Qt::Key_O), [&form] { form.Command1_Click(); },
        followsButton(form.Command1));
    add(
        N_("导出图片"), QKeySequence(Qt::CTRL | Qt::Key_E), [&form] { form.Command3_Click(); },
        followsButton(form.Command3));
    add(
        N_("导入图片"), QKeySequence(Qt::CTRL | Qt::Key_I), [&form] { form.Command4_Click(); },
        followsButton(form.Command4));
    add(
        N_("写入"), QKeySequence(Qt::CTRL | Qt::Key_W), [&form] { form.Command5_Click(); },
        followsButton(form.Command5));
    add(
        N_("撤销上次写入"), QKeySequence(Qt::CTRL | Qt::Key_Z), [&form] { form.undo(); }, pairOpen);
    add(
        N_("复制头像"), QKeySequence(Qt::CTRL | Qt::Key_C), [&form] { form.copyPortrait(); },
        pairOpen);
    add(
        N_("粘贴图片"), QKeySequence(Qt::CTRL | Qt::Key_V), [&form] { form.pastePicture(); },
        pairOpen);
    add(
        N_("由大头像生成小头像"), QKeySequence(Qt::CTRL | Qt::Key_M),
        [&form] { form.makeSmallFromLarge(); }, pairOpen);
    add(
        N_("在绘图程序中编辑"), QKeySequence(Qt::CTRL | Qt::Key_D),
        [&form] { form.editInPainter(); }, pairOpen);
    add(
        N_("绘图程序设置…"), QKeySequence(), [&form] { editPainterSettings(&form); },
        [] { return true; });
    auto* separator = new QAction(&form);
    separator->setSeparator(true);
    form.addAction(separator);

    auto gallery = std::make_shared<QPointer<Gallery>>();
    auto closerLook = std::make_shared<QPointer<CloserLook>>();
    add(
        N_("转到编号…"), QKeySequence(Qt::CTRL | Qt::Key_J), [&form] { form.askForNumber(); },
        pairOpen);
    add(
        N_("头像一览"), QKeySequence(Qt::CTRL | Qt::Key_G),
        [&form, gallery] { showOnce(form, *gallery, QStringLiteral("windows/gallery")); },
        pairOpen);
    add(
        N_("放大查看"), QKeySequence(Qt::CTRL | Qt::Key_L),
        [&form, closerLook] { showOnce(form, *closerLook, QStringLiteral("windows/closerLook")); },
        pairOpen);

    addLanguageMenu(form);

    // The buttons are enabled in showState(), which ends by telling.
    auto update = [entries] {
        for (const Entry& entry : *entries) entry.action->setEnabled(entry.enabled());
    };
    QObject::connect(&form, &Form1::stateShown, &form, update);
    QObject::connect(&form, &Form1::languageChanged, &form, [entries] {
        for (const Entry& entry : *entries) entry.action->setText(translated(entry.text));
    });
    update();
}

QIcon programIcon()
{
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/pelloran-%1.png").arg(size), QSize(size, size));
    return icon;
}

}  // namespace pelloran::editor
