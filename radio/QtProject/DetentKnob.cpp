// Relative mouse turning and one-step wheel notches for the front-panel knobs.
#include "DetentKnob.h"

#include <QMouseEvent>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace {

constexpr double kDeadRadius = 6.0;    // pixels around the centre without a usable angle
constexpr int kWheelNotch = 120;       // angle delta of one notch of a mouse wheel
constexpr double kWrappingTurn = 360.0;
constexpr double kStopToStopTurn = 300.0;  // a knob with end stops turns through 300 degrees

} // namespace

bool DetentKnob::angleAt(const QPointF& position, double& degrees) const
{
    const double dx = position.x() - width() / 2.0;
    const double dy = height() / 2.0 - position.y();
    if (std::hypot(dx, dy) < kDeadRadius)
        return false;
    degrees = std::atan2(dy, dx) * 180.0 / M_PI;
    return true;
}

// As the dial draws itself: a wrapping knob shows its range on a whole turn.
double DetentKnob::degreesPerStep() const
{
    const int steps = std::max(1, maximum() - minimum());
    return (wrapping() ? kWrappingTurn : kStopToStopTurn) / steps;
}

void DetentKnob::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    event->accept();
    grabbed_ = true;
    untakenDegrees_ = 0.0;
    if (!angleAt(event->position(), lastAngle_))
        lastAngle_ = 0.0;
    setSliderDown(true);
}

void DetentKnob::mouseMoveEvent(QMouseEvent* event)
{
    if (!grabbed_ || !(event->buttons() & Qt::LeftButton)) {
        event->ignore();
        return;
    }
    event->accept();
    double angle = 0.0;
    if (!angleAt(event->position(), angle))
        return;
    // The short way round from the last position; clockwise turns up.
    double turned = lastAngle_ - angle;
    if (turned > 180.0)
        turned -= 360.0;
    else if (turned < -180.0)
        turned += 360.0;
    lastAngle_ = angle;
    untakenDegrees_ += turned;
    const int steps = static_cast<int>(untakenDegrees_ / degreesPerStep());
    if (steps == 0)
        return;
    untakenDegrees_ -= steps * degreesPerStep();
    // A knob at its end stop stays there; turning back moves it at once.
    setSliderPosition(sliderPosition() + steps);
}

void DetentKnob::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !grabbed_) {
        event->ignore();
        return;
    }
    event->accept();
    grabbed_ = false;
    setSliderDown(false);
}

void DetentKnob::wheelEvent(QWheelEvent* event)
{
    event->accept();
    untakenWheel_ += event->angleDelta().y() != 0 ? event->angleDelta().y() : event->angleDelta().x();
    while (untakenWheel_ >= kWheelNotch) {
        untakenWheel_ -= kWheelNotch;
        triggerAction(SliderSingleStepAdd);
    }
    while (untakenWheel_ <= -kWheelNotch) {
        untakenWheel_ += kWheelNotch;
        triggerAction(SliderSingleStepSub);
    }
}
