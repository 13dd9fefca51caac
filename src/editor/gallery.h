// The gallery: every portrait of the range the main window shows, in a grid
// with its number under it. Clicking one, or Enter on the selected one, shows
// that number in the main window.
//
// The range's large records are read in one pass when it is shown; a cell's
// picture is made the first time the cell is painted and kept, and only the
// cells in view are painted, so opening and scrolling cost the same for 110
// portraits as for 832.
#pragma once

#include <QAbstractScrollArea>
#include <QImage>
#include <vector>

#include "session/session.h"

namespace pelloran::editor {

class Form1;

class Gallery final : public QAbstractScrollArea {
    Q_OBJECT

public:
    // A window of its own over form's range, closed with form.
    explicit Gallery(Form1& form);

    // Shows numbers from the archives of form's pair (the window follows the
    // form's range; this lets it show another span, all 832 for instance).
    void showNumbers(session::Numbers numbers);
    // The number selected, which Enter shows in the main window.
    int selected() const { return selected_; }
    // Where number's cell lies in the viewport.
    QRect cellRect(int number) const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void follow();
    // "头像一览 1-722", in the chosen language.
    void showTitle();
    void select(int number);
    void bringSelectedIntoView();
    void choose(int number);
    void layOut();
    int columns() const;
    int leftMargin() const;
    const QImage& pictureOf(int number);

    Form1& form_;
    static constexpr session::Numbers kNoNumbers{0, -1};
    session::Numbers numbers_ = kNoNumbers;
    session::Range range_ = session::Range::Historical;
    int selected_ = 0;
    std::vector<std::uint8_t> records_;  // the large record of every number, in order
    std::vector<QImage> pictures_;       // made at first paint, in the screen's format
};

}  // namespace pelloran::editor
