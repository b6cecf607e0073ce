// Bringing the radio's window to the user when the radio is started again.
#pragma once

class QWidget;

namespace WindowActivation {

// Shows the window in front, restored when it was minimised, with the
// keyboard focus.
void bringToFront(QWidget* window);

} // namespace WindowActivation
