// Restarting the whole unit: the embedded unit runs "reboot"; a desktop
// (no "/ipc/net" folder) only logs that it skipped it.
#pragma once

namespace UnitReboot {

// Runs "reboot" through the system-command seam on the unit; returns
// false when it was skipped on a desktop.
bool rebootUnit();

} // namespace UnitReboot
