// Public interface of the halvane2 trunk library: socket-style functions
// that send and receive multicast datagrams, tunnelled to relay routers for
// every group that is not a local talk group.
#pragma once

#if defined(__GNUC__)
#define HV_EXPORT __attribute__((visibility("default")))
#else
#define HV_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

#ifdef __cplusplus
}
#endif
