// Construction of the main window, its front-panel controls and its
// window-level slots; the start-up sequence itself is in base.cpp.
#include "MainWindow.h"

#include "FrontPanelKeys.h"
#include "PersistentQSettings.h"
#include "ProgramRestart.h"
#include "TalkboxSettings.h"
#include "debug_log.h"

#include <QAction>
#include <QApplication>
#include <QDial>
#include <QFocusEvent>
#include <QMetaObject>
#include <QMouseEvent>
#include <QPushButton>

namespace {

constexpr int kWindowWidth = 1180;
constexpr int kWindowHeight = 380;
const char* const kPttIdleStyle = "background-color: rgb(189,189,189);";
const char* const kPttPressedStyle = "background-color: red;";

} // namespace

MainWindow::MainWindow(QWidget* parent, Startup startup) : QMainWindow(parent)
{
    setWindowTitle(QStringLiteral("RVX4400"));
    auto* front = new QWidget(this);
    front->setObjectName(QStringLiteral("centralWidget"));
    setCentralWidget(front);
    ui_.setupUi(front);
    setWindowIcon(QIcon(QStringLiteral(":/images/UI Pictures/48.ico")));
    setFixedSize(kWindowWidth, kWindowHeight);

    PersistentQSettings* settings = PersistentQSettings::instance();
    restoreGeometry(settings->value(QStringLiteral("geometry")).toByteArray());
    restoreState(settings->value(QStringLiteral("state")).toByteArray());

    if (startup == Startup::Queued)
        QMetaObject::invokeMethod(this, "startup", Qt::QueuedConnection);
    settingsDialog_ = new TalkboxSettings(this);
    connectControls();
}

MainWindow::~MainWindow() = default;

void MainWindow::connectControls()
{
    connect(ui_.rightKnob, &QDial::valueChanged, this, &MainWindow::ciConvertRightKnobPositionToUpDown);
    connect(ui_.pttButton, &QPushButton::pressed, this, &MainWindow::on_pttButton_pressed);
    connect(ui_.pttButton, &QPushButton::released, this, &MainWindow::on_pttButton_released);
    connect(ui_.settingsButton, &QPushButton::clicked, this, &MainWindow::on_settingsButton_clicked);
    connect(ui_.minimizeButton, &QPushButton::clicked, this, &MainWindow::miMinimizeWindow);
    connect(ui_.closeButton, &QPushButton::clicked, this, &MainWindow::miCloseApplication);
    connect(qApp, &QApplication::focusChanged, this, &MainWindow::ciAppFocusChanged);
    // However the program is left (close button, Exit, a termination
    // signal), the window's state and pending settings reach the file.
    connect(qApp, &QCoreApplication::aboutToQuit, this, &MainWindow::miSaveAppState);
    ui_.titleBar->installEventFilter(this);
    ui_.pttButton->installEventFilter(this);
    connectMenuActions();
    connectKeyboard();
}

void MainWindow::connectMenuActions()
{
    connect(ui_.actionSave_Changes, &QAction::triggered, this, &MainWindow::miSaveAppState);
    connect(ui_.actionExit, &QAction::triggered, this, &MainWindow::miCloseApplication);
    connect(ui_.actionSystem_Settings, &QAction::triggered, this, &MainWindow::miOpenSystemSettings);
    // The window holds them too, so their shortcuts work wherever the focus is in it.
    addActions({ui_.actionSave_Changes, ui_.actionSystem_Settings, ui_.actionExit});
}

void MainWindow::connectKeyboard()
{
    FrontPanelKeys::Panel panel;
    panel.window = this;
    panel.volumeKnob = ui_.leftKnob;
    panel.pressPtt = [this] { return pressPtt(); };
    panel.releasePtt = [this] { releasePtt(); };
    panel.channelUp = [this] { emit coRightKnobUpFromWindowClass(); };
    panel.channelDown = [this] { emit coRightKnobDownFromWindowClass(); };
    keys_ = new FrontPanelKeys(std::move(panel), this);
}

void MainWindow::miForceRestart()
{
    ProgramRestart::restartNow();
}

void MainWindow::miBypassRegistration(bool bypass)
{
    bypassRegistration_ = bypass;
}

void MainWindow::miFinishRegistration(bool finish)
{
    finishRegistration_ = finish;
}

void MainWindow::miShowRegistration(bool show)
{
    PersistentQSettings::instance()->setValue(QStringLiteral("show_reg"), show);
    QCoreApplication::processEvents();
}

void MainWindow::miSaveAppState()
{
    PersistentQSettings* settings = PersistentQSettings::instance();
    settings->setValue(QStringLiteral("geometry"), saveGeometry());
    settings->setValue(QStringLiteral("state"), saveState());
    settings->sync();
    QCoreApplication::processEvents();
}

void MainWindow::miCloseApplication()
{
    QCoreApplication::quit();
}

void MainWindow::on_pttButton_pressed()
{
    ui_.pttButton->setStyleSheet(QString::fromLatin1(kPttPressedStyle));
    pttPressed_ = true;
    emit coPttButtonStateChanged(true);
}

void MainWindow::on_pttButton_released()
{
    ui_.pttButton->setStyleSheet(QString::fromLatin1(kPttIdleStyle));
    pttPressed_ = false;
    emit coPttButtonStateChanged(false);
}

bool MainWindow::pressPtt()
{
    if (pttPressed_ || !ui_.pttButton->isEnabled())
        return false;
    // The button shows itself held, as under the pointer.
    ui_.pttButton->blockSignals(true);
    ui_.pttButton->setDown(true);
    ui_.pttButton->blockSignals(false);
    on_pttButton_pressed();
    return true;
}

void MainWindow::releasePtt()
{
    if (!pttPressed_)
        return;
    // The button may still believe it is held; make it let go quietly.
    ui_.pttButton->blockSignals(true);
    ui_.pttButton->setDown(false);
    ui_.pttButton->blockSignals(false);
    on_pttButton_released();
}

void MainWindow::ciAppFocusChanged(QWidget*, QWidget* now)
{
    if (!now)
        releasePtt();
}

void MainWindow::ciConvertRightKnobPositionToUpDown(int position)
{
    if (!knobPositionKnown_) {
        knobPositionKnown_ = true;
        lastKnobPosition_ = position;
    }
    if (knobEchoGuard_ != 0) {
        debug_log_printf("DEBUG_RIGHT_KNOB", "Skipping right knob event (reentrant)\n");
        return;
    }
    const int maximum = ui_.rightKnob->maximum();
    int delta = position - lastKnobPosition_;
    if (delta > maximum / 2)
        delta -= maximum;
    else if (delta < -(maximum / 2))
        delta += maximum;
    for (int step = 0; step < delta; ++step) {
        debug_log_printf("DEBUG_RIGHT_KNOB", "Right knob up\n");
        emit coRightKnobUpFromWindowClass();
    }
    for (int step = 0; step < -delta; ++step) {
        debug_log_printf("DEBUG_RIGHT_KNOB", "Right knob down\n");
        emit coRightKnobDownFromWindowClass();
    }
    lastKnobPosition_ = position;
}

void MainWindow::viSetRightKnobPosition(int position)
{
    ++knobEchoGuard_;
    ui_.rightKnob->setValue(position);
    --knobEchoGuard_;
}

void MainWindow::viDisablePTTButton(bool hasMic)
{
    if (hasMic)
        return;
    ui_.pttButton->setEnabled(false);
    ui_.pttButton->setText(QStringLiteral("No mic found,\n") + QStringLiteral("PTT Disabled."));
}

void MainWindow::on_settingsButton_clicked()
{
    if (settingsDialog_->isVisible()) {
        settingsDialog_->hide();
        return;
    }
    miOpenSystemSettings();
}

void MainWindow::miOpenSystemSettings()
{
    // An open dialog keeps what the user has typed so far.
    if (!settingsDialog_->isVisible())
        settingsDialog_->openDialog();
    settingsDialog_->raise();
    settingsDialog_->activateWindow();
    settingsDialog_->setFocus();
}

bool MainWindow::dragByTitleBar(QEvent* event)
{
    auto* mouse = static_cast<QMouseEvent*>(event);
    // Only the left button drags; a right click opens the title bar's menu.
    if (event->type() == QEvent::MouseButtonPress && mouse->button() == Qt::LeftButton) {
        dragStart_ = mouse->globalPosition().toPoint() - frameGeometry().topLeft();
        return true;
    }
    if (event->type() == QEvent::MouseMove && (mouse->buttons() & Qt::LeftButton)) {
        move(mouse->globalPosition().toPoint() - dragStart_);
        return true;
    }
    return false;
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == ui_.titleBar && dragByTitleBar(event))
        return true;
    if (watched == ui_.pttButton && event->type() == QEvent::FocusOut)
        releasePtt();
    return QMainWindow::eventFilter(watched, event);
}
