// Construction of the main window's widgets at their rectangles.
#include "MainWindowForm.h"

#include "DetentKnob.h"

#include <QAction>
#include <QApplication>
#include <QDial>
#include <QFrame>
#include <QHBoxLayout>
#include <QPushButton>
#include <QStyle>

namespace {

const char* const kKeyStyle =
    "QPushButton { border:none; background-image: url(:/images/resources/talkbox_button.svg); color: white; }"
    "QPushButton:pressed { background-image: url(:/images/resources/talkbox_button_pressed.svg); }";
const char* const kPttIdleStyle = "background-color: rgb(189,189,189);";

const int kKeyRects[MainWindowForm::kKeyCount][4] = {
    {305, 80, 92, 51}, {305, 155, 92, 49}, {305, 231, 93, 51},
    {782, 79, 92, 51}, {782, 155, 92, 51}, {782, 230, 93, 51},
    {952, 262, 65, 63}};

QPushButton* button(QWidget* parent, const char* name, const QString& text, const QRect& rect)
{
    auto* widget = new QPushButton(text, parent);
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(rect);
    return widget;
}

QDial* knob(QWidget* parent, const char* name, const QRect& rect, int maximum, bool wrapping)
{
    auto* dial = new DetentKnob(parent);
    dial->setObjectName(QString::fromLatin1(name));
    dial->setGeometry(rect);
    dial->setRange(0, maximum);
    dial->setWrapping(wrapping);
    dial->setNotchesVisible(true);
    // Dark knobs that match the unit's face.
    QPalette palette = dial->palette();
    palette.setColor(QPalette::Button, QColor(58, 64, 72));
    palette.setColor(QPalette::Window, QColor(20, 23, 27));
    palette.setColor(QPalette::Highlight, QColor(217, 86, 31));
    palette.setColor(QPalette::Light, QColor(110, 118, 128));
    palette.setColor(QPalette::Dark, QColor(15, 17, 20));
    dial->setPalette(palette);
    return dial;
}

QAction* menuAction(QWidget* parent, const char* name, const QString& text, const QKeySequence& shortcut)
{
    auto* action = new QAction(text, parent);
    action->setObjectName(QString::fromLatin1(name));
    action->setShortcut(shortcut);
    return action;
}

QPushButton* titleButton(QWidget* parent, const char* name, const QIcon& icon)
{
    auto* widget = new QPushButton(parent);
    widget->setObjectName(QString::fromLatin1(name));
    widget->setIcon(icon);
    widget->setFixedSize(21, 19);
    widget->setFlat(true);
    widget->setFocusPolicy(Qt::NoFocus);
    widget->setStyleSheet(QStringLiteral("background:none;"));
    return widget;
}

} // namespace

void MainWindowForm::setupUi(QWidget* centralWidget)
{
    // A disabled PTT says why in text dark enough to read on its grey.
    centralWidget->setStyleSheet(QStringLiteral("QPushButton#pttButton:disabled { color: rgb(64,64,64); }"));
    widgetRVX4400 = new QWidget(centralWidget);
    widgetRVX4400->setObjectName(QStringLiteral("widgetRVX4400"));
    widgetRVX4400->setGeometry(2, 0, 1177, 380);
    widgetRVX4400->setAttribute(Qt::WA_StyledBackground);
    widgetRVX4400->setStyleSheet(QStringLiteral("image: url(:/images/resources/RVX4400_Unit_Front.png);"));

    rightKnob = knob(centralWidget, "rightKnob", QRect(910, 60, 140, 139), 99, true);
    leftKnob = knob(centralWidget, "leftKnob", QRect(120, 60, 140, 141), 100, false);
    upChannel = button(centralWidget, "upChannel", QStringLiteral("\u25B2"), QRect(900, 190, 31, 23));
    downChannel = button(centralWidget, "downChannel", QStringLiteral("\u25BC"), QRect(1040, 190, 31, 23));
    pttButton = button(centralWidget, "pttButton", QStringLiteral("PTT"), QRect(114, 242, 95, 83));
    pttButton->setStyleSheet(QString::fromLatin1(kPttIdleStyle));
    const char* names[kKeyCount] = {"pushButton",   "pushButton_2", "pushButton_3", "pushButton_4",
                                    "pushButton_5", "pushButton_6", "pushButton_7"};
    for (int i = 0; i < kKeyCount; ++i) {
        const int* r = kKeyRects[i];
        keys[i] = button(centralWidget, names[i], QString(), QRect(r[0], r[1], r[2], r[3]));
        keys[i]->setFocusPolicy(Qt::NoFocus);
        keys[i]->setStyleSheet(QString::fromLatin1(i < 6 ? kKeyStyle : "border: 1px solid transparent;"));
    }

    frame_2 = new QFrame(centralWidget);
    frame_2->setObjectName(QStringLiteral("frame_2"));
    frame_2->setGeometry(60, 1, 1061, 21);
    auto* row = new QHBoxLayout(frame_2);
    row->setContentsMargins(4, 1, 4, 1);
    row->setSpacing(2);
    titleBar = new QWidget(frame_2);
    titleBar->setObjectName(QStringLiteral("titleBar"));
    QStyle* style = QApplication::style();
    settingsButton = titleButton(frame_2, "settingsButton", QIcon(QStringLiteral(":/images/resources/process_info _large.png")));
    minimizeButton = titleButton(frame_2, "minimizeButton", style->standardIcon(QStyle::SP_TitleBarMinButton));
    closeButton = titleButton(frame_2, "closeButton", style->standardIcon(QStyle::SP_TitleBarCloseButton));
    row->addWidget(settingsButton);
    row->addWidget(titleBar, 1);
    row->addWidget(minimizeButton);
    row->addWidget(closeButton);
    setupActions();
}

void MainWindowForm::setupActions()
{
    // Fixed key combinations rather than the platform's standard keys, so
    // that they are the same on every desktop the radio runs on.
    actionSave_Changes = menuAction(titleBar, "actionSave_Changes", QStringLiteral("Save Changes"),
                                    QKeySequence(Qt::CTRL | Qt::Key_S));
    actionSystem_Settings = menuAction(titleBar, "actionSystem_Settings", QStringLiteral("System Settings..."),
                                       QKeySequence(Qt::CTRL | Qt::Key_Comma));
    actionExit = menuAction(titleBar, "actionExit", QStringLiteral("Exit"), QKeySequence(Qt::CTRL | Qt::Key_Q));
    // A right click on the title bar lists them.
    titleBar->addActions({actionSave_Changes, actionSystem_Settings, actionExit});
    titleBar->setContextMenuPolicy(Qt::ActionsContextMenu);
}
