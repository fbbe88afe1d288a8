/* A guest program for the SDK tests. Its screen draws a marker rectangle and
 * text, and probe_run exercises the runtime through ordinary C so that the
 * compiler's own calls to the helpers are what gets tested. */
#include <tarvel/tarvel.h>

#include "tv_resources.h"

/* The generated resource numbers, for the tests to compare with the archive. */
const uint32_t probe_resource_numbers[] __attribute__((used)) = {TV_RES_ONE_TXT, TV_RES_HELLO_TXT,
                                                                 TV_RES_TILE_PNG, TV_RES_COUNT};

typedef struct probe_in {
    uint32_t a32, b32;
    uint64_t a64, b64;
    uint32_t shift;
    int32_t case_index;
    uint8_t bytes[32];
} probe_in;

typedef struct probe_out {
    uint32_t udiv32, umod32;
    int32_t sdiv32, smod32;
    uint64_t udiv64, umod64;
    int64_t sdiv64, smod64;
    uint64_t mul64, shl64, lshr64;
    int64_t ashr64;
    int32_t lt64, ult64;
    int32_t clz, ctz, popcount;
    int32_t small_case, wide_case;
    uint8_t copied[32], moved[32], filled[32];
} probe_out;

/* Dense enough for a byte table in Thumb code. */
static int __attribute__((noinline)) small_switch(int x) {
    switch (x) {
    case 0: return 11;
    case 1: return 23;
    case 2: return 35;
    case 3: return 47;
    case 4: return 59;
    case 5: return 61;
    case 6: return 73;
    case 7: return 85;
    case 8: return 97;
    case 9: return 109;
    default: return -1;
    }
}

/* Far-apart cases need a halfword table. */
#define CASE(n) case n: x = x * (n) + 7; break;
#define CASES10(t) CASE(t##0) CASE(t##1) CASE(t##2) CASE(t##3) CASE(t##4) \
                   CASE(t##5) CASE(t##6) CASE(t##7) CASE(t##8) CASE(t##9)
static int __attribute__((noinline)) wide_switch(int x) {
    switch (x) {
    CASES10(1) CASES10(2) CASES10(3) CASES10(4) CASES10(5) CASES10(6) CASES10(7)
    CASES10(8) CASES10(9) CASES10(10) CASES10(11) CASES10(12) CASES10(13) CASES10(14)
    CASES10(15) CASES10(16) CASES10(17) CASES10(18) CASES10(19) CASES10(20)
    default: return -1;
    }
    return x;
}

void __attribute__((used, noinline)) probe_run(const probe_in *in, probe_out *out) {
    volatile uint32_t b32 = in->b32; /* keeps gcc from folding constant divisors */
    out->udiv32 = in->a32 / b32;
    out->umod32 = in->a32 % b32;
    out->sdiv32 = (int32_t)in->a32 / (int32_t)b32;
    out->smod32 = (int32_t)in->a32 % (int32_t)b32;
    out->udiv64 = in->a64 / in->b64;
    out->umod64 = in->a64 % in->b64;
    out->sdiv64 = (int64_t)in->a64 / (int64_t)in->b64;
    out->smod64 = (int64_t)in->a64 % (int64_t)in->b64;
    out->mul64 = in->a64 * in->b64;
    out->shl64 = in->a64 << in->shift;
    out->lshr64 = in->a64 >> in->shift;
    out->ashr64 = (int64_t)in->a64 >> in->shift;
    out->lt64 = (int64_t)in->a64 < (int64_t)in->b64;
    out->ult64 = in->a64 < in->b64;
    out->clz = in->a32 ? __builtin_clz(in->a32) : 32;
    out->ctz = in->a32 ? __builtin_ctz(in->a32) : 32;
    out->popcount = __builtin_popcount(in->a32);
    out->small_case = small_switch(in->case_index);
    out->wide_case = wide_switch(in->case_index);
    /* Offsets and lengths come from the input so that the calls stay calls. */
    uint32_t n = in->shift & 31, at = in->a32 & 7;
    memset(out->copied, 0xAA, sizeof out->copied);
    memcpy(out->copied + at, in->bytes, n > 32 - at ? 32 - at : n);
    memcpy(out->moved, in->bytes, 32);
    memmove(out->moved + at, out->moved, 32 - at);
    memset(out->filled, 0, 32);
    memset(out->filled + at, (int)in->b32, n > 32 - at ? 32 - at : n);
}

/* ---- a screen, so that the program also runs as an application ---- */

static uint32_t ticks;
static const char kGreeting[] = "SDK probe";
static uint32_t table[4] = {0x11223344u, 0x55667788u, 0x99AABBCCu, 0xDDEEFF00u};

static void probe_init(void *self, uint32_t event, uint32_t arg) {
    (void)self; (void)event; (void)arg;
    ticks = 0;
}

static void probe_logic(void *self, uint32_t event, uint32_t arg) {
    (void)self; (void)arg;
    if (event == TV_EVENT_TICK) ++ticks;
}

static void probe_render(void *self, uint32_t event, uint32_t arg) {
    (void)self; (void)event; (void)arg;
    tv_fill_rect(-10, 20, 40, 30, TV_RGB(255, 0, 0));
    tv_draw_text(kGreeting, 8, 100, TV_WHITE);
}

tv_screen_object probe_screen = TV_SCREEN_OBJECT_INIT(probe_init, probe_logic, probe_render, 0, table);

void tv_app_main(void) {
    tv_screen_push(&probe_screen.screen);
}
