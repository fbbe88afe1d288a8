/* Packaged resources: the resource directory (group 21) and the lookups of
 * the utility group that work with or without one. Resource data is copied
 * into guest memory once; lookups return addresses of those copies. */
#ifndef TARVEL_DATA_H
#define TARVEL_DATA_H

#include "service.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The directory record; the machine fills it, the application only passes
 * its address around. */
typedef struct tv_resource_dir {
    uint32_t words[28];
} tv_resource_dir;

/* Builds an empty directory with room for `entries` sub-directories. */
static inline void tv_resource_dir_init(tv_resource_dir *dir, uint32_t entries) {
    tv_service(TV_GROUP_SYSWORDS, 10, TV_U32(dir), entries, 0, 0);
}
/* Copies the main resource package into guest memory and fills dir. */
static inline void tv_resource_dir_load(tv_resource_dir *dir) {
    tv_service(TV_GROUP_DATA, 4, TV_U32(dir), 0, 0, 0);
}
static inline const void *tv_resource_dir_data(tv_resource_dir *dir, const char *name) {
    return TV_PTR(const void *, tv_service(TV_GROUP_DATA, 6, TV_U32(dir), TV_U32(name), 0, 0));
}
static inline const void *tv_resource_dir_data_at(tv_resource_dir *dir, uint32_t number) {
    return TV_PTR(const void *, tv_service(TV_GROUP_DATA, 7, TV_U32(dir), number, 0, 0));
}
static inline const char *tv_resource_dir_name(tv_resource_dir *dir, uint32_t number) {
    return TV_PTR(const char *, tv_service(TV_GROUP_DATA, 8, TV_U32(dir), number, 0, 0));
}
/* The resource number, or -1. */
static inline int32_t tv_resource_dir_find(tv_resource_dir *dir, const char *name) {
    return (int32_t)tv_service(TV_GROUP_DATA, 9, TV_U32(dir), TV_U32(name), 0, 0);
}

/* Registers dir as the application's resource directory (0 to forget it). */
static inline void tv_resource_dir_register(tv_resource_dir *dir) {
    tv_service(TV_GROUP_UTIL, 9, TV_U32(dir), 0, 0, 0);
}
static inline tv_resource_dir *tv_resource_dir_registered(void) {
    return TV_PTR(tv_resource_dir *, tv_service(TV_GROUP_UTIL, 10, 0, 0, 0, 0));
}

/* Lookups through the registered directory, falling back to the machine's
 * own copies; names compare ignoring ASCII case in the fallback. */
static inline const void *tv_resource_data(const char *name) {
    return TV_PTR(const void *, tv_service(TV_GROUP_UTIL, 12, TV_U32(name), 0, 0, 0));
}
static inline const void *tv_resource_data_at(uint32_t number) {
    return TV_PTR(const void *, tv_service(TV_GROUP_UTIL, 11, number, 0, 0, 0));
}
static inline const char *tv_resource_name(uint32_t number) {
    return TV_PTR(const char *, tv_service(TV_GROUP_UTIL, 13, number, 0, 0, 0));
}
static inline int32_t tv_resource_find(const char *name) {
    return (int32_t)tv_service(TV_GROUP_UTIL, 14, TV_U32(name), 0, 0, 0);
}

#ifdef __cplusplus
}
#endif
#endif
