// Help and version of RVX4400w.
#include "ProgramOptions.h"

#include <cstring>

namespace ProgramOptions {

namespace {

bool isAnyOf(const char* argument, const char* first, const char* second)
{
    return std::strcmp(argument, first) == 0 || std::strcmp(argument, second) == 0;
}

} // namespace

const char* version()
{
    return RVX_PROJECT_VERSION;
}

const char* helpText()
{
    return "Usage: RVX4400w [OPTION]... [QT OPTION]...\n"
           "A desktop push-to-talk two-way radio for voice over IP.\n"
           "\n"
           "The window is the front of a hand-held radio unit. Pick a zone and a\n"
           "channel, hold PTT (or the push-to-talk key) to talk into the microphone,\n"
           "and hear the other radios on the channel through the speakers. Without\n"
           "settings from a management service the radio runs sixteen local channels.\n"
           "\n"
           "Options:\n"
           "  -h, --help       show this text and exit\n"
           "  -v, --version    show the version and exit\n"
           "The toolkit's own options work as well, for example -platform offscreen\n"
           "or -display :1.\n"
           "\n"
           "Keyboard:\n"
           "While the radio's window has the focus:\n"
           "  Space            push to talk while held; another key can be chosen on\n"
           "                   the settings dialog's Audio Devices tab (ptt_key in\n"
           "                   settings.ini, empty for none)\n"
           "  Up, Down         turn the channel knob one step\n"
           "  +, -             turn the volume knob up or down\n"
           "  Ctrl+S           write the window layout and pending settings now\n"
           "  Ctrl+,           open the settings dialog\n"
           "  Ctrl+Q           exit\n"
           "The push-to-talk key lets go when the window loses the focus.\n"
           "\n"
           "One radio per data folder:\n"
           "Starting the radio again while it runs with the same data folder brings\n"
           "the running radio's window to the front and ends the new start.\n"
           "\n"
           "Environment:\n"
           "  appdata          the data folder is $appdata/Talkbox/; without it\n"
           "                   $XDG_DATA_HOME/Talkbox/ (default ~/.local/share/Talkbox/)\n"
           "  GNUPGHOME        the GnuPG home that holds the radio's key pair\n"
           "  DEBUG_LOG_CONF   the debug flag file (default: debug_log.conf beside the\n"
           "                   program, else in the current folder)\n"
           "  RVX4400_WEBMANAGEMENT_URL\n"
           "                   the management service's base address\n"
           "  RVX4400_SERVER_FINGERPRINT\n"
           "                   the fingerprint of the service's key the radio trusts\n"
           "  RVX4400_SCREENSHOT\n"
           "                   save a picture of the window to this file once the home\n"
           "                   screen shows\n"
           "\n"
           "Files:\n"
           "  settings.ini     local settings (volume, zone, channel, sound cards,\n"
           "                   window layout, push-to-talk key), in the data folder\n"
           "  settings_cache.gpg\n"
           "                   the settings from the management service, encrypted\n"
           "  client-public-key.gpg\n"
           "                   the radio's exported public key\n"
           "\n"
           "Diagnostics go to standard error.\n";
}

std::optional<int> answerInformationRequest(int argc, const char* const* argv, std::FILE* out)
{
    for (int i = 1; i < argc; ++i) {
        if (isAnyOf(argv[i], "--help", "-h")) {
            std::fputs(helpText(), out);
            return 0;
        }
        if (isAnyOf(argv[i], "--version", "-v")) {
            std::fprintf(out, "RVX4400w %s\n", version());
            return 0;
        }
    }
    return std::nullopt;
}

} // namespace ProgramOptions
