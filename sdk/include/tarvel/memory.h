/* Guest heap blocks and arenas (group 2 and the arena entries). */
#ifndef TARVEL_MEMORY_H
#define TARVEL_MEMORY_H

#include "service.h"

#ifdef __cplusplus
extern "C" {
#endif

/* A heap block of size bytes (8-byte granularity), or 0 when the heap is full. */
static inline void *tv_malloc(uint32_t size) {
    return TV_PTR(void *, tv_service(TV_GROUP_MEMORY, 13, size, 0, 0, 0));
}
/* Frees a block from tv_malloc; other addresses are ignored. */
static inline void tv_free(void *block) { tv_service(TV_GROUP_MEMORY, 14, TV_U32(block), 0, 0, 0); }

/* An arena hands out 4-byte-aligned pieces of one buffer until it is full;
 * reset makes the whole buffer free again. The record is six words. */
typedef struct tv_arena {
    uint8_t *buffer;
    uint32_t used;
    uint32_t capacity;
    uint32_t allocate_entry;
    uint32_t reset_entry;
    uint32_t destroy_entry;
} tv_arena;

#define TV_SYSTEM_ARENA TV_PTR(tv_arena *, 0x05800000u)

/* Sets arena up with a fresh heap buffer of capacity bytes. */
static inline void tv_arena_init(tv_arena *arena, uint32_t capacity) {
    tv_service(TV_GROUP_MEMORY, 5, TV_U32(arena), capacity, 0, 0);
}
static inline void *tv_arena_alloc(tv_arena *arena, uint32_t size) {
    return TV_PTR(void *, tv_call_entry(TV_ENTRY_ARENA_ALLOC, TV_U32(arena), size, 0, 0));
}
static inline void tv_arena_reset(tv_arena *arena) {
    tv_call_entry(TV_ENTRY_ARENA_RESET, TV_U32(arena), 0, 0, 0);
}
/* Frees the buffer (never the system arena's) and clears the record. */
static inline void tv_arena_destroy(tv_arena *arena) {
    tv_call_entry(TV_ENTRY_ARENA_DESTROY, TV_U32(arena), 0, 0, 0);
}
/* The system arena (4 MiB), set up on first use; tv_system_arena_alloc
 * allocates from it. */
static inline tv_arena *tv_system_arena(void) {
    return TV_PTR(tv_arena *, tv_service(TV_GROUP_MEMORY, 10, 0, 0, 0, 0));
}
static inline void *tv_system_arena_alloc(uint32_t size) {
    return TV_PTR(void *, tv_service(TV_GROUP_MEMORY, 12, size, 0, 0, 0));
}

#ifdef __cplusplus
}
#endif
#endif
