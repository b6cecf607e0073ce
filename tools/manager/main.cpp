// rvx-manager: the management service for RVX4400w radios and its command
// line (see `rvx-manager --help`).
#include "CommandLine.h"

#include <sys/stat.h>

int main(int argc, char** argv)
{
    // The database holds the server's secret key: nothing here is for
    // other users.
    ::umask(077);
    return Manager::runCommandLine(argc, argv);
}
