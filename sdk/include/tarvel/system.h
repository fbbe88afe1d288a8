/* Start-up, the system entry, fixed clock words, semihosting and the
 * platform's constant system answers (groups 0, 1, 11, 24, 25). */
#ifndef TARVEL_SYSTEM_H
#define TARVEL_SYSTEM_H

#include "service.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The initializer (the SDK's crt0) registers the application entry here
 * (word 0) and a second word beside it (word 1); see README.md. */
#define TV_REGISTRATION_TABLE 0x0A000000u
/* System words. */
#define TV_WORD_KEY_EVENT     0x0A007FDCu /* 1 << key code of the key event */
#define TV_WORD_PEN_EVENT     0x0A007FD8u /* (y << 16) | x of the pen event */
#define TV_WORD_SCREEN_PUSH   0x0A007FE0u /* cleared by screen push/replace */
#define TV_WORD_RESOURCE_DIR  0x0A007FF0u /* current resource directory */
#define TV_WORD_SCREEN_ARENA  0x0A007FF4u

/* Your program defines this; the machine calls it once after start-up.
 * Push the first screen (screen.h) or start a timer from here. */
void tv_app_main(void);

/* System entry codes (the entry at 0x0C00F000 takes code and parameter). */
enum {
    TV_SYS_SET_DATA_WORD = 82,       /* param stored at data start + 0x1724 */
    TV_SYS_ZERO_WORD = 1004,         /* writes four zero bytes at param */
    TV_SYS_ZERO_BYTE = 1005,         /* writes one zero byte at param */
    TV_SYS_REGISTER_NATIVE = 1950,   /* param -> {entry, second, (written)} */
    TV_SYS_OBJECT_REQUEST = 2001     /* param -> {out word, object id, size} */
};

static inline uint32_t tv_system_entry(uint32_t code, uint32_t param) {
    return tv_call_entry(TV_ENTRY_SYSTEM, code, param, 0, 0);
}

/* Interface objects handed out through TV_SYS_OBJECT_REQUEST. */
enum { TV_OBJECT_SMALL = 142, TV_OBJECT_SERVICES = 143, TV_OBJECT_ALL_ONES = 1050 };

/* Returns the object's address (0 when none). */
static inline uint32_t tv_object_request(uint32_t object_id) {
    volatile uint32_t out = 0;
    volatile uint32_t block[3];
    block[0] = TV_U32(&out);
    block[1] = object_id;
    block[2] = 4;
    tv_system_entry(TV_SYS_OBJECT_REQUEST, TV_U32(block));
    return out;
}

/* The machine's fixed calendar (year, month, day, hour, minute, second). */
enum { TV_CLOCK_YEAR, TV_CLOCK_MONTH, TV_CLOCK_DAY, TV_CLOCK_HOUR, TV_CLOCK_MINUTE, TV_CLOCK_SECOND };
static inline uint32_t tv_clock_word(uint32_t which) {
    return tv_call_entry(TV_ENTRY_CLOCK(which), 0, 0, 0, 0);
}

/* Semihosting: text shows on the host's standard error when tracing is on;
 * exit stops the application for good. */
#if defined(__thumb__)
#define TV_SEMIHOST_SWI "svc 0xab"
#else
#define TV_SEMIHOST_SWI "svc 0x123456"
#endif

static inline uint32_t tv_semihost(uint32_t reason, uint32_t param) {
    register uint32_t r0 __asm__("r0") = reason;
    register uint32_t r1 __asm__("r1") = param;
    __asm__ volatile(TV_SEMIHOST_SWI : "+r"(r0) : "r"(r1) : "memory");
    return r0;
}
static inline void tv_debug_write(const char *text) { tv_semihost(4, TV_U32(text)); }
static inline void tv_debug_putc(char c) {
    volatile char ch = c;
    tv_semihost(3, TV_U32(&ch));
}
/* Ends the application; the machine stops running it. */
static inline void tv_exit(uint32_t report) { tv_semihost(0x18, report); }
#define TV_EXIT_APPLICATION 0x20026u

/* Group 0: interface tables. Fill index f writes the group's stub addresses
 * to table and returns it; tv_interface_table_address gives the prebuilt one. */
static inline uint32_t tv_interface_fill(uint32_t fill_index, uint32_t *table) {
    return tv_service(TV_GROUP_INTERFACE, fill_index, TV_U32(table), 0, 0, 0);
}
static inline uint32_t tv_interface_table_address(uint32_t address_index) {
    return tv_service(TV_GROUP_INTERFACE, address_index, 0, 0, 0, 0);
}
/* Direct interface-table request k (0..17) into table. */
static inline uint32_t tv_interface_request(uint32_t k, uint32_t *table) {
    return tv_call_entry(TV_ENTRY_INTERFACE(k), TV_U32(table), 0, 0, 0);
}

/* Group 1: system information. */
static inline uint32_t tv_sysinfo(uint32_t index) {
    return tv_service(TV_GROUP_SYSINFO, index, 0, 0, 0, 0);
}
/* Guest instructions executed so far (low 32 bits). */
static inline uint32_t tv_instruction_count(void) { return tv_sysinfo(47); }
/* Copies the platform name (at most min(size, 8) bytes) to buffer. */
static inline void tv_platform_name(char *buffer, uint32_t size) {
    tv_service(TV_GROUP_SYSINFO, 25, TV_U32(buffer), size, 0, 0);
}

/* Group 11: system words. */
static inline void tv_reset_system_words(void) { tv_service(TV_GROUP_SYSWORDS, 8, 0, 0, 0, 0); }

/* Group 24: the device identifier (15 digits and a NUL fit in 16 bytes). */
static inline void tv_device_id(char *buffer, uint32_t size) {
    tv_service(TV_GROUP_DEVICE, 7, TV_U32(buffer), size, 0, 0);
}

/* Group 25 index 0: the resource directory word. */
static inline uint32_t tv_resource_directory_word(void) {
    return tv_service(TV_GROUP_SYSIMAGE, 0, 0, 0, 0, 0);
}

#ifdef __cplusplus
}
#endif
#endif
