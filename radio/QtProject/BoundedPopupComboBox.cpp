// Keeps the drop-down list of a combo box within its area.
#include "BoundedPopupComboBox.h"

#include <QAbstractItemView>

#include <algorithm>

void BoundedPopupComboBox::showPopup()
{
    QComboBox::showPopup();
    QWidget* popup = view() ? view()->window() : nullptr;
    if (!area_ || !popup || popup == window())
        return;
    const QRect bounds(area_->mapToGlobal(QPoint(0, 0)), area_->size());
    QRect placed = popup->geometry();
    // Cut at the area's edges where enough of it is left, else moved in.
    const QRect inside = placed & bounds;
    if (inside.height() >= bounds.height() / 2 && inside.width() == std::min(placed.width(), bounds.width())) {
        placed = inside;
    } else {
        placed.setHeight(std::min(placed.height(), bounds.height()));
        placed.setWidth(std::min(placed.width(), bounds.width()));
        placed.moveTop(std::clamp(placed.top(), bounds.top(), bounds.bottom() + 1 - placed.height()));
        placed.moveLeft(std::clamp(placed.left(), bounds.left(), bounds.right() + 1 - placed.width()));
    }
    popup->setGeometry(placed);
    view()->scrollTo(view()->currentIndex());
}
