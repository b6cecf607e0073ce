// Reboot of the embedded unit, skipped on a desktop.
#include "UnitReboot.h"

#include "PlatformFiles.h"
#include "SystemCommand.h"
#include "debug_log.h"

#include <sys/stat.h>

namespace UnitReboot {

bool rebootUnit()
{
    struct stat folder {};
    const std::string unitFolder = PlatformFiles::path("/ipc/net");
    if (stat(unitFolder.c_str(), &folder) != 0 || !S_ISDIR(folder.st_mode)) {
        debug_log_printf_always("Reboot skipped: this is not a radio unit (no %s folder)\n", unitFolder.c_str());
        return false;
    }
    SystemCommand::run("reboot");
    return true;
}

} // namespace UnitReboot
