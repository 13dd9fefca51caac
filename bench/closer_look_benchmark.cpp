// Drawing with the pencil in the closer look at 16x, as a user does: the
// pointer dragged on with the button held, the edit made, and the event loop
// repainting what changed (the enlarged portrait and the main window's
// preview). Measured per pointer move, against a frame of 16 ms. Once as the
// closer look does it and once the naive way: the pixels set in a picture
// that is scaled up whole and shown again as a new pixmap.
#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QWheelEvent>
#include <memory>

#include "archive/layout.h"
#include "bench_support.h"
#include "editor/closer_look.h"
#include "platform/picture_box.h"
#include "session/edits.h"

namespace pelloran::bench {
namespace {

using archive::Slot;
using editor::CloserLook;
using editor::PixelView;

constexpr int kWidth = archive::kLargeLayout.width;
constexpr int kHeight = archive::kLargeLayout.height();
constexpr int kStep = 3;  // pixels the pointer passes between two events

void send(QWidget* widget, QEvent::Type type, QPoint at, Qt::MouseButton button,
          Qt::MouseButtons held)
{
    QMouseEvent event(type, at, widget->mapToGlobal(at), button, held, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

// Where the pointer is on move i: along a row, kStep pixels at a time, the
// rows one after another; a new row begins a new stroke.
QPoint pointerPixel(std::int64_t i)
{
    constexpr int perRow = kWidth / kStep;
    return {static_cast<int>(i % perRow) * kStep, static_cast<int>(i / perRow % kHeight)};
}

void strokeOurs(benchmark::State& state)
{
    OpenWindow window(demoFolder().path());
    if (!window.error().isEmpty()) return skipWithError(state, window.error());
    auto* look = new CloserLook(*window.form);
    const std::unique_ptr<CloserLook> owned(look);
    // Large enough that the whole portrait is on show at 16x: every move
    // repaints what the user sees.
    look->resize(2000, 1500);
    look->show();
    PixelView* view = look->largeView();
    while (look->scale() < CloserLook::kMaximumScale) {
        QWheelEvent wheel(QPointF(10, 10), view->mapToGlobal(QPointF(10, 10)), {}, {0, 120},
                          Qt::NoButton, Qt::ControlModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(view, &wheel);
    }
    settle();
    if (view->visibleRegion().boundingRect() != view->rect())
        return skipWithError(state, QStringLiteral("the portrait is not wholly on show at 16x"));

    PaintCounter paints(view);
    std::int64_t i = 0;
    for (auto _ : state) {
        const QPoint pixel = pointerPixel(i++);
        const QPoint at = view->pixelRect(pixel).center();
        if (pixel.x() == 0) {
            send(view, QEvent::MouseButtonRelease, at, Qt::LeftButton, Qt::NoButton);
            send(view, QEvent::MouseButtonPress, at, Qt::LeftButton, Qt::LeftButton);
        } else {
            send(view, QEvent::MouseMove, at, Qt::NoButton, Qt::LeftButton);
        }
        settle();
    }
    // Index 0 is chosen when the closer look opens: the last row drawn holds it.
    const QPoint last = pointerPixel(i - 1);
    if (window.form->session().state().large.preview[static_cast<std::size_t>(last.y()) * kWidth +
                                                     static_cast<std::size_t>(last.x())] != 0)
        return skipWithError(state, QStringLiteral("the stroke did not reach the portrait"));
    if (paints.count() < i / 2)
        return skipWithError(state, QStringLiteral("the strokes were not repainted"));
    state.counters["scale"] = look->scale();
    state.counters["paints_per_move"] =
        static_cast<double>(paints.count()) / static_cast<double>(i);
    state.SetLabel("target: median <= 16 ms (a frame) per pointer move at 16x");
}

void strokeReference(benchmark::State& state)
{
    OpenWindow window(demoFolder().path());
    if (!window.error().isEmpty()) return skipWithError(state, window.error());
    session::Record record = window.form->session().state().large.preview;
    QLabel view;
    view.resize(kWidth * CloserLook::kMaximumScale, kHeight * CloserLook::kMaximumScale);
    view.show();
    settle();

    std::int64_t i = 0;
    session::Point from{0, 0};
    for (auto _ : state) {
        const QPoint pixel = pointerPixel(i++);
        const session::Point to{pixel.x(), pixel.y()};
        if (pixel.x() == 0) from = to;
        session::setPixels(Slot::Large, record, session::lineBetween(from, to), 0);
        from = to;
        const QImage picture = platform::recordPicture(Slot::Large, record);
        view.setPixmap(
            QPixmap::fromImage(picture.scaled(picture.size() * CloserLook::kMaximumScale)));
        settle();
    }
}

BENCHMARK(strokeOurs)
    ->Name("stroke/ours")
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly();
BENCHMARK(strokeReference)
    ->Name("stroke/reference")
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly();

}  // namespace
}  // namespace pelloran::bench
