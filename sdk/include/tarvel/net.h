/* The network (group 9). It is simulated: connections always open, sent
 * bytes are counted, and every send on an open connection and every HTTP
 * request is answered with one byte (0x01) through the callback a few ticks
 * later.
 *
 * The callback runs from the tick, before timers and the screen, as
 * callback(data, length, status, kind):
 *   TV_NET_OPENED    (0, 0, 0)            second tick after tv_net_open
 *   TV_NET_DATA      (address, 1, 1)      second tick after a send or request;
 *                                         address holds the byte 0x01 (a heap
 *                                         block the application may free)
 *   TV_NET_COMPLETE  (0, 0, 0)            third tick after a send or request
 * At most 32 such calls wait at a time; later ones are dropped. The argument
 * of tv_net_http is not passed to the callback. */
#ifndef TARVEL_NET_H
#define TARVEL_NET_H

#include "service.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Kinds of callback (the fourth argument). */
enum {
    TV_NET_DATA = 0,
    TV_NET_COMPLETE = 1,
    TV_NET_OPENED = 5
};

/* Called as callback(data, length, status, kind). */
typedef void (*tv_net_fn)(uint32_t data, uint32_t length, uint32_t status, uint32_t kind);

/* Opens a connection; its id is stored at *id (unless id is null). Returns
 * 1, or 0 when the callback is null or all 16 connections are open. */
static inline int tv_net_open(tv_net_fn callback, uint32_t *id) {
    return (int)tv_service(TV_GROUP_NET, 0, 0, 0, TV_U32(callback), TV_U32(id));
}
/* Sends length bytes (the first 512 are kept). Returns length, or 0 when
 * data is null or length 0. Only a send on an open connection is answered. */
static inline uint32_t tv_net_send(uint32_t id, const void *data, uint32_t length) {
    return tv_service(TV_GROUP_NET, 1, TV_U32(data), length, id, 0);
}
static inline void tv_net_close(uint32_t id) { tv_service(TV_GROUP_NET, 2, id, 0, 0, 0); }
/* Requests a URL (at most 256 bytes are read). Returns 1, or 0 when the
 * callback is null (the request is still made, its answer goes nowhere). */
static inline int tv_net_http(const char *url, tv_net_fn callback, uint32_t argument) {
    return (int)tv_service(TV_GROUP_NET, 3, TV_U32(url), TV_U32(callback), argument, 0);
}
/* Whether the network is available: always 1. */
static inline int tv_net_available(void) { return (int)tv_service(TV_GROUP_NET, 4, 0, 0, 0, 0); }
/* Empties the kept bytes of the last send and sets both counters to 0. */
static inline void tv_net_reset_counters(void) { tv_service(TV_GROUP_NET, 35, 0, 0, 0, 0); }
/* Stores the low 32 bits of the sent and received byte counts (either
 * pointer may be null); returns the received count. */
static inline uint32_t tv_net_counters(uint32_t *sent, uint32_t *received) {
    return tv_service(TV_GROUP_NET, 36, TV_U32(sent), TV_U32(received), 0, 0);
}

#ifdef __cplusplus
}
#endif
#endif
