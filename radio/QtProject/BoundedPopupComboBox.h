// A drop-down list whose list pops up within a given area (the display it
// sits on) instead of wherever the style would put it: moved inside and, when
// longer than the area, shortened to scroll.
#pragma once

#include <QComboBox>
#include <QPointer>

class BoundedPopupComboBox : public QComboBox
{
public:
    BoundedPopupComboBox(QWidget* area, QWidget* parent) : QComboBox(parent), area_(area) {}

    void showPopup() override;

private:
    QPointer<QWidget> area_;
};
