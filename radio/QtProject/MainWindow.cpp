// Construction of the main window and its window-level slots.
#include "MainWindow.h"

#include "PersistentQSettings.h"
#include "ProgramRestart.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QVBoxLayout>

namespace {
// The picture of the unit's front is 1177 x 380 pixels.
constexpr int kWindowWidth = 1177;
constexpr int kWindowHeight = 380;
} // namespace

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent)
{
    setWindowTitle(QStringLiteral("RVX4400w"));
    auto* front = new QWidget(this);
    front->setObjectName(QStringLiteral("centralWidget"));
    front->setLayout(new QVBoxLayout);
    setCentralWidget(front);
    resize(kWindowWidth, kWindowHeight);

    PersistentQSettings* settings = PersistentQSettings::instance();
    restoreGeometry(settings->value(QStringLiteral("geometry")).toByteArray());
    restoreState(settings->value(QStringLiteral("state")).toByteArray());

    QMetaObject::invokeMethod(this, "startup", Qt::QueuedConnection);
}

MainWindow::~MainWindow() = default;

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
