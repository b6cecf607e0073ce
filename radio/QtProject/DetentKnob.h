// A front-panel knob turned with the mouse like a knob with detents: a click
// leaves it where it is, dragging turns it by the angle the pointer travels
// around its centre (from where it was grabbed, not to the clicked angle),
// and one wheel notch turns it one step.
#pragma once

#include <QDial>

class DetentKnob : public QDial
{
public:
    explicit DetentKnob(QWidget* parent = nullptr) : QDial(parent) {}

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    // The pointer's angle around the centre in degrees, counter-clockwise;
    // false too close to the centre, where the angle means nothing.
    bool angleAt(const QPointF& position, double& degrees) const;
    double degreesPerStep() const;

    bool grabbed_ = false;
    double lastAngle_ = 0.0;
    double untakenDegrees_ = 0.0;  // turned, but less than one step so far
    int untakenWheel_ = 0;         // wheel travel short of a notch
};
