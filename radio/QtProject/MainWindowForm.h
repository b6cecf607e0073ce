// The widgets of the main window: the picture of the unit's front with its
// knobs, keys, PTT button and the window's own slim title bar, each at its
// place on the picture, and the window's menu actions, offered by the title
// bar's context menu (the frameless window has no menu bar).
#pragma once

class QAction;
class QDial;
class QFrame;
class QPushButton;
class QWidget;

struct MainWindowForm
{
    static constexpr int kKeyCount = 7;

    // Builds the widgets as children of the central widget.
    void setupUi(QWidget* centralWidget);

    QWidget* widgetRVX4400 = nullptr;
    QDial* rightKnob = nullptr;
    QDial* leftKnob = nullptr;
    QPushButton* upChannel = nullptr;
    QPushButton* downChannel = nullptr;
    QPushButton* pttButton = nullptr;
    QPushButton* keys[kKeyCount] = {};  // pushButton ... pushButton_7
    QFrame* frame_2 = nullptr;
    QWidget* titleBar = nullptr;
    QPushButton* settingsButton = nullptr;
    QPushButton* minimizeButton = nullptr;
    QPushButton* closeButton = nullptr;

    // Ctrl+S, Ctrl+Q and Ctrl+, while the window is active.
    QAction* actionSave_Changes = nullptr;
    QAction* actionExit = nullptr;
    QAction* actionSystem_Settings = nullptr;

private:
    void setupActions();
};
