// Ends the program through its event loop when the system asks it to
// terminate (SIGTERM, SIGHUP), so the window state and any setting still
// waiting to be written are saved as on a normal close.
#pragma once

namespace TerminationSignals {

// Installs the handlers; call once the application object exists.
void quitEventLoopOnTermination();

// An interrupt (Ctrl+C in the terminal) is logged and does not end the radio.
void keepRunningOnInterrupt();

} // namespace TerminationSignals
