// The program's only window, the front of the radio unit. It hosts the
// start-up sequence (run as the first event) and the restart.
#pragma once

#include <QMainWindow>

class QTimer;

class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    bool bypassRegistrationRequested() const { return bypassRegistration_; }
    bool finishRegistrationRequested() const { return finishRegistration_; }
    QTimer* oneSecondTimer() const { return oneSecondTimer_; }

public slots:
    // Brings the radio up; queued by the constructor, runs once.
    void startup();
    void miForceRestart();
    void miBypassRegistration(bool bypass);
    void miFinishRegistration(bool finish);
    // Stores "show_reg" (written at once) and processes pending events.
    void miShowRegistration(bool show);
    // Stores the window geometry and state and flushes the settings.
    void miSaveAppState();
    void miCloseApplication();

signals:
    void moRegistrationStatus(bool registered);

private:
    void runStartupSteps();
    void startNetworkInterfaceThread();
    void startOneSecondTimer();
    void readSettingsDocument(const QByteArray& cachedSettings);
    void logRegistrationState(const QByteArray& cachedSettings);

    bool bypassRegistration_ = false;
    bool finishRegistration_ = false;
    QTimer* oneSecondTimer_ = nullptr;
};
