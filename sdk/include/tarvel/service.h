/* How a guest program reaches a platform service.
 *
 * Every service has a stub address 0x0C000000 + group * 0x400 + index * 4.
 * Branching there with a link (any state, any ordinary call sequence) makes
 * the machine perform the service natively and return to the link address:
 * arguments in r0-r3 and then on the stack at sp, sp+4, ..., result in r0.
 * That is exactly the procedure-call convention of C, so a service is a
 * function pointer to its stub address. The helpers below cast the stub
 * address to a function type with enough parameters; unused ones are 0. */
#ifndef TARVEL_SERVICE_H
#define TARVEL_SERVICE_H

#include <stdint.h>
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

#define TV_SERVICE_BASE 0x0C000000u
#define TV_SERVICE_ADDR(group, index) \
    (TV_SERVICE_BASE + (uint32_t)(group) * 0x400u + (uint32_t)(index) * 4u)

/* Addresses of the machine's special entries inside the trap area. */
#define TV_ENTRY_FILL_RECT       0x0C00D010u /* direct fill rectangle */
#define TV_ENTRY_INTERFACE(k)    (0x0C00E000u + (uint32_t)(k) * 4u)
#define TV_ENTRY_SYSTEM          0x0C00F000u
#define TV_ENTRY_CLOCK(i)        (0x0C00F100u + (uint32_t)(i) * 4u)
#define TV_ENTRY_ARENA_ALLOC     0x0C00F148u
#define TV_ENTRY_ARENA_RESET     0x0C00F14Cu
#define TV_ENTRY_ARENA_DESTROY   0x0C00F150u
#define TV_ENTRY_PLAIN_RETURN    0x0C0FFFFCu

typedef uint32_t (*tv_entry4_fn)(uint32_t, uint32_t, uint32_t, uint32_t);
typedef uint32_t (*tv_entry8_fn)(uint32_t, uint32_t, uint32_t, uint32_t,
                                 uint32_t, uint32_t, uint32_t, uint32_t);

/* Calls the entry at a trap address with up to four register arguments. */
static inline uint32_t tv_call_entry(uint32_t address, uint32_t r0, uint32_t r1,
                                     uint32_t r2, uint32_t r3) {
    return ((tv_entry4_fn)(uintptr_t)address)(r0, r1, r2, r3);
}

/* Calls the entry with four register arguments and four stack words
 * (s0 at sp, s1 at sp+4, ...). */
static inline uint32_t tv_call_entry8(uint32_t address, uint32_t r0, uint32_t r1,
                                      uint32_t r2, uint32_t r3, uint32_t s0,
                                      uint32_t s1, uint32_t s2, uint32_t s3) {
    return ((tv_entry8_fn)(uintptr_t)address)(r0, r1, r2, r3, s0, s1, s2, s3);
}

static inline uint32_t tv_service(uint32_t group, uint32_t index, uint32_t r0,
                                  uint32_t r1, uint32_t r2, uint32_t r3) {
    return tv_call_entry(TV_SERVICE_ADDR(group, index), r0, r1, r2, r3);
}

static inline uint32_t tv_service8(uint32_t group, uint32_t index, uint32_t r0,
                                   uint32_t r1, uint32_t r2, uint32_t r3,
                                   uint32_t s0, uint32_t s1, uint32_t s2,
                                   uint32_t s3) {
    return tv_call_entry8(TV_SERVICE_ADDR(group, index), r0, r1, r2, r3, s0, s1,
                          s2, s3);
}

/* Guest pointers are 32-bit; these keep the casts in one place. */
#define TV_U32(p) ((uint32_t)(uintptr_t)(p))
#define TV_PTR(type, v) ((type)(uintptr_t)(v))

/* Service groups. */
enum {
    TV_GROUP_INTERFACE = 0,
    TV_GROUP_SYSINFO = 1,
    TV_GROUP_MEMORY = 2,
    TV_GROUP_IMAGE = 3,
    TV_GROUP_DRAW = 4,
    TV_GROUP_FILE = 5,
    TV_GROUP_STRING = 6,
    TV_GROUP_TIMER = 7,
    TV_GROUP_NET = 9,
    TV_GROUP_UTIL = 10,
    TV_GROUP_SYSWORDS = 11,
    TV_GROUP_WSTRING = 13,
    TV_GROUP_SCREEN = 14,
    TV_GROUP_STREAM = 16,
    TV_GROUP_AUDIO = 18,
    TV_GROUP_DATA = 21,
    TV_GROUP_DEVICE = 24,
    TV_GROUP_SYSIMAGE = 25,
    TV_GROUP_HEAP = 26
};

#ifdef __cplusplus
}
#endif
#endif
