/* The network (group 9). It is simulated: connections always open, sent
 * bytes are counted, and every send or request is answered with one byte
 * through the callback a few ticks later. */
#ifndef TARVEL_NET_H
#define TARVEL_NET_H

#include "service.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Called as callback(data, length, status, kind). */
typedef void (*tv_net_fn)(uint32_t data, uint32_t length, uint32_t status, uint32_t kind);

/* Opens a connection; its id is stored at *id. Returns 1, or 0 when none is free. */
static inline int tv_net_open(tv_net_fn callback, uint32_t *id) {
    return (int)tv_service(TV_GROUP_NET, 0, 0, 0, TV_U32(callback), TV_U32(id));
}
static inline uint32_t tv_net_send(uint32_t id, const void *data, uint32_t length) {
    return tv_service(TV_GROUP_NET, 1, TV_U32(data), length, id, 0);
}
static inline void tv_net_close(uint32_t id) { tv_service(TV_GROUP_NET, 2, id, 0, 0, 0); }
static inline int tv_net_http(const char *url, tv_net_fn callback, uint32_t argument) {
    return (int)tv_service(TV_GROUP_NET, 3, TV_U32(url), TV_U32(callback), argument, 0);
}

#ifdef __cplusplus
}
#endif
#endif
