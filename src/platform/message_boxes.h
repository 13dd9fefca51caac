// Modal message boxes, the only way the window speaks to the user.
#pragma once

#include <QString>
#include <optional>

class QWidget;

namespace pelloran::platform {

enum class MessageIcon { Information, Critical };
enum class MessageButtons { Ok, YesNo };
enum class MessageAnswer { Ok, Yes, No };

class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;

    // Shows text (lines separated by carriage returns) and returns the button
    // the user pressed.
    virtual MessageAnswer show(const QString& text, const QString& title, MessageIcon icon,
                               MessageButtons buttons) = 0;
    // Asks for a whole number from first to last, offering value; nothing
    // when the user cancelled.
    virtual std::optional<int> askNumber(const QString& text, const QString& title, int value,
                                         int first, int last) = 0;
};

class QtMessageBoxes final : public MessageBoxes {
public:
    explicit QtMessageBoxes(QWidget* parent = nullptr) : parent_(parent) {}
    void setParentWidget(QWidget* parent) { parent_ = parent; }
    MessageAnswer show(const QString& text, const QString& title, MessageIcon icon,
                       MessageButtons buttons) override;
    std::optional<int> askNumber(const QString& text, const QString& title, int value, int first,
                                 int last) override;

private:
    QWidget* parent_;
};

}  // namespace pelloran::platform
