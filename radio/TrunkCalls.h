// The program's only way into the trunk library: each function takes one
// process-wide lock around the matching hv_* call, because the library keeps
// its socket table, groups and routers unguarded while the media ticker thread
// and the main thread both call it.
#pragma once

#include <sys/socket.h>

namespace trunk {

void initInterface(unsigned int deviceId, unsigned char tag, const char* interfaceName, void (*callback)(void));
void initRouting(const char* routerAddress, unsigned int routerPort);

int registerSocket(int descriptor);
// Forgets the virtual socket of a descriptor being closed.
void closeSocket(int descriptor);
void setSocketPort(int descriptor, int port);
void setSocketTxOnly(int descriptor, bool on);

void groupJoin(int descriptor, const char* group);
void groupLeave(int descriptor, const char* group);
void groupLeaveAll(int descriptor);

int sendRtp(int descriptor, const unsigned char* data, int length, int flags, const sockaddr* to, int toLength);
int sendRtcp(int descriptor, const unsigned char* data, int length, int flags, const sockaddr* to, int toLength);
int receiveRtp(int descriptor, unsigned char* buffer, int size, int flags, sockaddr* from, int* fromLength);
int receiveRtcp(int descriptor, unsigned char* buffer, int size, int flags, sockaddr* from, int* fromLength);

// Queues an RTP datagram on every socket joined to the group; the count.
int queuePacketToGroup(const char* group, unsigned char* data, int length);

} // namespace trunk
