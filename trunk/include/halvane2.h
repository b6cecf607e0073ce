// Public interface of the halvane2 trunk library: socket-style functions
// that send and receive multicast datagrams, tunnelled to relay routers for
// every group that is not a local talk group, plus group-address helpers and
// a polled millisecond timer.
#pragma once

#if defined(__GNUC__)
#define HV_EXPORT __attribute__((visibility("default")))
#else
#define HV_EXPORT
#endif

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>

#ifndef __cplusplus
#include <stdbool.h>
#endif

#ifdef __cplusplus
extern "C" {
#endif

// ---- Set-up ---------------------------------------------------------------

// Creates the trunk interface (replacing an earlier one). The device id's low
// 24 bits and the tag's low 4 bits go into every trunk packet; the callback,
// when given, is called inside a receive call when the management service
// announces new settings for this unit.
HV_EXPORT void hv_init_interface(unsigned int deviceId, unsigned char tag,
                                 const char* interfaceName, void (*callback)(void));

// Adds one relay router (dotted IPv4 address, UDP port). Every router gets
// every trunk datagram, and the trunk takes datagrams only from the routers
// (their address and port); anything else that reaches it is dropped.
HV_EXPORT void hv_init_routing(const char* routerAddress, unsigned int routerPort);

// ---- Sockets --------------------------------------------------------------

// Registers a virtual socket beside the caller's socket. Returns the
// descriptor, or 0 when it was registered already. The last three arguments
// are ignored.
HV_EXPORT int hv_socket(int descriptor, int family, int type, int protocol);

// Creates a non-blocking system socket and registers it: the descriptor, 0
// when the descriptor was registered already, -1 when no socket was made.
HV_EXPORT int hv_create_socket(int family, int type, int protocol);

// Creates an IPv4 datagram socket bound to the address and registers it.
// Returns the descriptor also when the bind failed (see the log).
HV_EXPORT int hv_create_and_bind(struct sockaddr_in address);

// Forgets the virtual socket of a descriptor that the caller closes (or is
// about to close): its groups are left, so the routers stop relaying them at
// the next refresh, and datagrams queued on it are dropped. A descriptor
// number the system hands out again then starts with nothing. The caller's
// own socket is not touched.
HV_EXPORT void hv_close_socket(int descriptor);

HV_EXPORT void hv_set_socket_port(int descriptor, int port);
// A join on a transmit-only socket subscribes at the routers only at the
// next periodic refresh instead of at once.
HV_EXPORT void hv_set_socket_tx_only(int descriptor, bool on);
// Recently seen datagrams are dropped on this socket (the default).
HV_EXPORT void hv_set_duplicate_packet_dropping(int descriptor, bool on);

// ---- Groups (dotted IPv4 group addresses) ---------------------------------

HV_EXPORT void hv_group_join(int descriptor, const char* group);
HV_EXPORT void hv_group_leave(int descriptor, const char* group);
HV_EXPORT void hv_group_leave_all(int descriptor);
// Only the system multicast membership; no trunk subscription.
HV_EXPORT void hv_group_join_local(int descriptor, const char* group);
HV_EXPORT void hv_group_leave_local(int descriptor, const char* group);

// ---- Data -----------------------------------------------------------------

// Not supported (it has no payload kind): sends nothing, returns -1 with
// errno ENOTSUP. Use hv_sendto_rtp or hv_sendto_rtcp.
HV_EXPORT int hv_sendto(int descriptor, const unsigned char* data, int length, int flags,
                        const struct sockaddr* to, int toLength);
// Sends the datagram on the caller's socket and, unless the destination is a
// local talk group, as an RTP (RTCP) group message to every router. Returns
// the plain send result for a local group, else the trunk result (length + 12
// when a router accepted it, -1 when none did).
HV_EXPORT int hv_sendto_rtp(int descriptor, const unsigned char* data, int length, int flags,
                            const struct sockaddr* to, int toLength);
HV_EXPORT int hv_sendto_rtcp(int descriptor, const unsigned char* data, int length, int flags,
                             const struct sockaddr* to, int toLength);

// Polls the routers, then returns a trunk packet queued for the socket or a
// datagram read from the socket itself. The _rtp and _rtcp forms refuse (and
// consume) trunk packets of the other kind with -1.
HV_EXPORT int hv_recvfrom(int descriptor, unsigned char* buffer, int size, int flags,
                          struct sockaddr* from, int* fromLength);
HV_EXPORT int hv_recvfrom_rtp(int descriptor, unsigned char* buffer, int size, int flags,
                              struct sockaddr* from, int* fromLength);
HV_EXPORT int hv_recvfrom_rtcp(int descriptor, unsigned char* buffer, int size, int flags,
                               struct sockaddr* from, int* fromLength);

// Queues an RTP group message with the datagram on every virtual socket that
// joined the group; returns how many sockets got a copy.
HV_EXPORT int hv_queue_packet_to_socket_with_addr(const char* group, unsigned char* data, int length);

// ---- Group-address helpers ------------------------------------------------

// Host-order number of a strict dotted quad; 0 when the text is not one.
HV_EXPORT unsigned int GetGroupIdFromIpAddress(const char* text);
// Dotted text of a host-order id, in a per-thread buffer that the thread's
// next call overwrites.
HV_EXPORT const char* GetDottedIpStringFromGroupId(unsigned int groupId);
// True for 225.4.0.0 to 225.4.255.255 and 225.5.5.5.
HV_EXPORT bool IsLocalTalkGroup(const char* text);
HV_EXPORT bool IsLocalTalkGroupSockaddr(const struct sockaddr* address);

// ---- Time -----------------------------------------------------------------

HV_EXPORT unsigned int get_ticks_per_second(void);
// Milliseconds since the first call in the process (the first call gives 0).
HV_EXPORT unsigned int get_current_time(void);
// Stores |x - y| in result; returns 1 when x is earlier than y, else 0.
HV_EXPORT int timeval_subtract(struct timeval* result, struct timeval x, struct timeval y);

#ifdef __cplusplus
}

// A timer that nobody services: its owner asks it whether it has expired.
// A new timer is expired; times are get_current_time() milliseconds.
class HV_EXPORT polled_timer_t
{
public:
    polled_timer_t();
    explicit polled_timer_t(unsigned int length);
    ~polled_timer_t();

    void init(unsigned int length);
    void start_timer();
    void start_timer(unsigned int length);
    // Moves the start on by one length, so a periodic timer keeps its phase
    // however late it is polled.
    void restart_at_last_expiration_time();
    void set_length(unsigned int length);
    unsigned int get_time_since_started() const;
    bool is_expired();
    void force_to_expire_now();
    // Blocks the calling thread for that many milliseconds.
    static void sleep(unsigned int milliseconds);

private:
    unsigned int start_;
    unsigned int length_;
    bool expired_;
};

namespace Halvane {

// True when the first octet is 224 to 239; the number is in network order.
HV_EXPORT bool IsMulticast(unsigned int networkOrderAddress);
HV_EXPORT bool IsMulticast(const sockaddr* address);
HV_EXPORT bool IsMulticast(const sockaddr_in* address);

// Dotted-quad workers. They keep C++ linkage so that they never stand in for
// the system's functions of the same names.
// AF_INET: strict parse, 1 on success, 0 on failure; other families: -1.
HV_EXPORT int inet_pton(int family, const char* text, in_addr* out);
// AF_INET only; none when the text and its NUL do not fit in size.
HV_EXPORT const char* inet_ntop(int family, const in_addr* address, char* out, unsigned int size);
// strict != 0: exactly four decimal numbers 0-255. Otherwise also hex (0x)
// and octal (leading 0) numbers and the forms a, a.b, a.b.c. Parsing stops at
// the end or at white space. Stores network order; 1 on success, 0 on failure.
HV_EXPORT int inet_pton4(const char* text, unsigned char* out, int strict);
HV_EXPORT const char* inet_ntop4(const unsigned char* bytes, char* out, unsigned int size);
// Host-order number of a strict dotted quad; 0 when the text is not one.
HV_EXPORT unsigned int inet_network(const char* text);

} // namespace Halvane

#endif
