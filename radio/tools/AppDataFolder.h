// The per-user folder that holds the radio's local files (settings.ini, the
// settings cache, the exported public key).
#pragma once

#include <QString>

// "$appdata/Talkbox/" when appdata is set, else "$XDG_DATA_HOME/Talkbox/"
// (default "~/.local/share/Talkbox/"); always ends in '/'.
QString appDataFolder();
