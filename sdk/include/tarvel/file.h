/* Files (group 5): the application's private filesystem. Its files and
 * directories are kept for the next time the application runs (in the
 * frontend's save folder), survive a reset, and are part of save states;
 * open handles are not kept between runs, so a fresh start has none. All files together
 * hold at most 16 MiB; tv_file_free_space says how much of that is left.
 * Paths use "/" or "\",
 * ignore ASCII case and may not climb above the root with "..". Narrow paths
 * are GBK (or UTF-8 / UTF-16 after a byte-order mark).
 *
 * The service tells a narrow path from a UTF-16 one by its second byte: zero
 * means UTF-16. So a one-character narrow path ("a") is misread; use names of
 * two characters or more. Up to 16 files can be open at once. */
#ifndef TARVEL_FILE_H
#define TARVEL_FILE_H

#include "service.h"

#ifdef __cplusplus
extern "C" {
#endif

enum { TV_SEEK_SET = 0, TV_SEEK_CUR = 1, TV_SEEK_END = 2 };

/* Opens path with a C-style mode ("r", "r+", "w", "w+", "a", "a+").
 * "r" needs an existing file; "w" empties or creates it; "a" starts at the
 * end. Returns the handle 0..15, or -1. */
static inline int32_t tv_file_open(const char *path, const char *mode) {
    return (int32_t)tv_service(TV_GROUP_FILE, 0, 0, TV_U32(path), TV_U32(mode), 0);
}
/* 0, or -1 for a handle that is not open. */
static inline int32_t tv_file_close(int32_t handle) {
    return (int32_t)tv_service(TV_GROUP_FILE, 1, (uint32_t)handle, 0, 0, 0);
}
static inline int tv_file_exists(const char *path) {
    return (int)tv_service(TV_GROUP_FILE, 2, 0, TV_U32(path), 0, 0);
}
static inline int tv_file_is_directory(const char *path) {
    return (int)tv_service(TV_GROUP_FILE, 3, 0, TV_U32(path), 0, 0);
}
/* Bytes read, or -1. */
static inline int32_t tv_file_read(int32_t handle, void *buffer, uint32_t count) {
    return (int32_t)tv_service(TV_GROUP_FILE, 4, TV_U32(buffer), count, (uint32_t)handle, 0);
}
/* count on success, or -1. Writing past the end fills the gap with zeros. */
static inline int32_t tv_file_write(int32_t handle, const void *buffer, uint32_t count) {
    return (int32_t)tv_service(TV_GROUP_FILE, 5, TV_U32(buffer), count, (uint32_t)handle, 0);
}
/* New position (past the end is allowed), or -1 leaving the position alone. */
static inline int32_t tv_file_seek(int32_t handle, int32_t offset, int origin) {
    return (int32_t)tv_service(TV_GROUP_FILE, 6, (uint32_t)handle, (uint32_t)offset,
                               (uint32_t)origin, 0);
}
static inline int32_t tv_file_tell(int32_t handle) {
    return (int32_t)tv_service(TV_GROUP_FILE, 7, (uint32_t)handle, 0, 0, 0);
}
static inline int32_t tv_file_size(int32_t handle) {
    return (int32_t)tv_service(TV_GROUP_FILE, 8, (uint32_t)handle, 0, 0, 0);
}
/* 1 when a file was removed. */
static inline int tv_file_delete(const char *path) {
    return (int)tv_service(TV_GROUP_FILE, 9, 0, TV_U32(path), 0, 0);
}
/* 1 on success; open handles follow the file to its new name. */
static inline int tv_file_rename(const char *from, const char *to) {
    return (int)tv_service(TV_GROUP_FILE, 10, 0, TV_U32(from), TV_U32(to), 0);
}
/* Directories are only names; files need none to exist. 0, or -1. */
static inline int32_t tv_file_mkdir(const char *path) {
    return (int32_t)tv_service(TV_GROUP_FILE, 11, 0, TV_U32(path), 0, 0);
}
/* Bytes that can still be stored (a write past them fails). */
static inline uint32_t tv_file_free_space(void) { return tv_service(TV_GROUP_FILE, 16, 0, 0, 0, 0); }

#ifdef __cplusplus
}
#endif
#endif
