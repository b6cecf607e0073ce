// Where the relay's control socket lives and how it is made. The control
// interface is a Unix stream socket, so the file's permissions decide who
// may stop the relay or ask it to notify units: mode 0600 (the relay's own
// user, and root), or 0660 with a group given for it (a manager on the same
// host). Nothing else on the machine or the network can reach it.
#pragma once

#include <string>
#include <sys/types.h>

namespace Relay {

// The path when none is configured: /run/halvane-relay/control-PORT for
// root, else under $XDG_RUNTIME_DIR (or /tmp/halvane-relay-UID) likewise.
std::string DefaultControlPath(unsigned short trunkPort);

// A bound, listening control socket at path, the file made with the mode
// above. A stale socket file left by a relay that died is replaced; a live
// one (another relay answers there) or any other kind of file is an error.
// Returns the descriptor, or -1 with the reason.
int OpenControlSocket(const std::string& path, const std::string& group, std::string& error);

// Removes the socket file if it is still the one made by OpenControlSocket.
void RemoveControlSocket(const std::string& path, ino_t inode);
ino_t InodeOf(const std::string& path);

} // namespace Relay
