// The registration gate of start-up: while the management service says the
// unit is not registered (or cannot be reached), the display shows the
// enrolment code or the retry screen and the gate polls, on the user's key
// or every 15 s in the first ten minutes, until the unit is registered
// (then the program restarts) or the user skips registration.
#include "MainWindow.h"

#include "LCD_t.h"
#include "ProgramRestart.h"
#include "ProvisioningStartup.h"
#include "SettingsFileRetrievalAgent.h"
#include "UI_Handler.h"
#include "debug_log.h"

#include <QCoreApplication>
#include <QThread>

namespace {

using Status = SettingsFileRetrievalAgent::Status;

constexpr int kGatePassMs = 50;
constexpr int kRegisteredRestartDelayS = 5;

bool waitingForRegistration(int status)
{
    return status == Status::kNotYetRegistered || status == Status::kInvalidReply;
}

int checkSettings()
{
    const int status = ProvisioningStartup::retrievalAgent().updateSettingsIfPossible();
    debug_log_printf("DEBUG_REGISTRATION", "currentStatus:  %d\n", status);
    return status;
}

} // namespace

int MainWindow::pollRegistration()
{
    const int status = checkSettings();
    if (status == Status::kInvalidReply) {
        debug_log_printf("DEBUG_REGISTRATION", "Unable to validate server response.\n");
    } else if (status == Status::kNotYetRegistered) {
        debug_log_printf("DEBUG_REGISTRATION", "Still not registered\n");
        emit moRegistrationStatus(false);
    } else {
        debug_log_printf("DEBUG_REGISTRATION", "Is now registered\n");
        emit moRegistrationStatus(true);
        QCoreApplication::processEvents();
        QThread::sleep(kRegisteredRestartDelayS);
        ProgramRestart::restartNow();
    }
    return status;
}

void MainWindow::runRegistrationGate(QByteArray& cachedSettings)
{
    try {
        connect(&ProvisioningStartup::retrievalAgent(), &SettingsFileRetrievalAgent::coRegistrationCode, lcd_,
                &LCD_t::viDisplayRegistrationCode, Qt::UniqueConnection);
        debug_log_printf("DEBUG_REGISTRATION", "Retrieving settings...\n");
        int status = checkSettings();
        if (status == Status::kNotYetRegistered) {
            debug_log_printf("DEBUG_REGISTRATION", "Not yet registered; displaying registration screen.\n");
            emit coSelectScreenFromBase(LcdScreens::registrationScreen);
        } else if (status == Status::kInvalidReply) {
            debug_log_printf("DEBUG_REGISTRATION", "Unable to reach WebManagement; displaying unableToRegisterScreen.\n");
            emit coSelectScreenFromBase(LcdScreens::unableToRegisterScreen);
        }
        // The counter stays on a due value for a whole second: poll once per value.
        int lastAutomaticPollSecond = -1;
        while (waitingForRegistration(status)) {
            QCoreApplication::processEvents();
            if (bypassRegistration_)
                break;
            bool poll = false;
            if (finishRegistration_) {
                debug_log_printf("DEBUG_REGISTRATION", "User pressed key to indicate that registration is finished\n");
                poll = true;
            }
            if (status == Status::kNotYetRegistered && uiHandler_->registrationPollDue() &&
                uiHandler_->secondsElapsed() != lastAutomaticPollSecond) {
                lastAutomaticPollSecond = uiHandler_->secondsElapsed();
                debug_log_printf("DEBUG_REGISTRATION", "Automatically polling to see if registration is complete\n");
                poll = true;
            }
            if (poll) {
                status = pollRegistration();
                finishRegistration_ = false;
            }
            QThread::msleep(kGatePassMs);
        }
        ProvisioningStartup::readCachedSettings(cachedSettings);
    } catch (const std::exception& error) {
        debug_log_printf_always("Retrieving settings failed (%s).  Using cached settings file or defaults.\n",
                                error.what());
    }
}
