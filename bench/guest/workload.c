/* A benchmark workload shaped like application code: a small bytecode
 * interpreter (calls through a switch, branches), an insertion and a shell
 * sort over a table in RAM (loads, stores, compares), a CRC over the table
 * (shifts, table lookups) and fixed-point arithmetic (multiplies, divides by
 * the runtime). It runs from the application's entry; the result is kept
 * in a volatile word so that none of the work can be left out. */
#include <tarvel/tarvel.h>

#define ROUNDS 40
#define ITEMS 256

volatile uint32_t tv_bench_result;

static uint32_t items[ITEMS];
static uint32_t crc_table[256];
static uint32_t seed = 0x2545F491u;

static uint32_t next_random(void) {
    seed ^= seed << 13;
    seed ^= seed >> 17;
    seed ^= seed << 5;
    return seed;
}

static void make_crc_table(void) {
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        crc_table[n] = c;
    }
}

static uint32_t crc_of(const uint8_t *bytes, uint32_t length) {
    uint32_t c = 0xFFFFFFFFu;
    for (uint32_t i = 0; i < length; ++i) c = crc_table[(c ^ bytes[i]) & 0xFF] ^ (c >> 8);
    return ~c;
}

static void insertion_sort(uint32_t *a, int n) {
    for (int i = 1; i < n; ++i) {
        const uint32_t v = a[i];
        int j = i - 1;
        while (j >= 0 && a[j] > v) {
            a[j + 1] = a[j];
            --j;
        }
        a[j + 1] = v;
    }
}

static void shell_sort(uint32_t *a, int n) {
    for (int gap = n / 2; gap > 0; gap /= 2)
        for (int i = gap; i < n; ++i) {
            const uint32_t v = a[i];
            int j = i;
            for (; j >= gap && a[j - gap] < v; j -= gap) a[j] = a[j - gap];
            a[j] = v;
        }
}

/* A stack machine: push, add, mul, dup, swap, jump-if-not-zero, decrement. */
enum { OP_PUSH, OP_ADD, OP_MUL, OP_DUP, OP_SWAP, OP_DEC, OP_JNZ, OP_DIV, OP_END };

static int32_t run_program(const uint8_t *code, int32_t start) {
    int32_t stack[16];
    int sp = 0;
    stack[sp++] = start;
    for (int pc = 0;;) {
        switch (code[pc++]) {
            case OP_PUSH: stack[sp++] = (int8_t)code[pc++]; break;
            case OP_ADD: --sp; stack[sp - 1] += stack[sp]; break;
            case OP_MUL: --sp; stack[sp - 1] *= stack[sp]; break;
            case OP_DUP: stack[sp] = stack[sp - 1]; ++sp; break;
            case OP_SWAP: { int32_t t = stack[sp - 1]; stack[sp - 1] = stack[sp - 2]; stack[sp - 2] = t; } break;
            case OP_DEC: stack[sp - 1] -= 1; break;
            case OP_JNZ: if (stack[--sp]) pc = code[pc]; else ++pc; break;
            case OP_DIV: --sp; stack[sp - 1] = stack[sp] ? stack[sp - 1] / stack[sp] : 0; break;
            default: return stack[sp - 1];
        }
    }
}

/* acc = start; counter = 40; do { acc = acc * 3 + 7; acc /= 2; } while (--counter) */
static const uint8_t program[] = {
    OP_PUSH, 40,             /* acc counter */
    OP_SWAP,                 /* 2: counter acc */
    OP_PUSH, 3, OP_MUL, OP_PUSH, 7, OP_ADD, OP_PUSH, 2, OP_DIV,
    OP_SWAP, OP_DEC, OP_DUP, OP_JNZ, 2,
    OP_SWAP, OP_END,
};

static int32_t fixed_point(int32_t x) {
    /* A few steps of a 16.16 Newton iteration for 1/x, with a divide check. */
    int32_t y = 0x10000 / (x > 0 ? x : 1) + 1;
    for (int i = 0; i < 4; ++i) y = (int32_t)(((int64_t)y * (0x20000 - (int64_t)x * y / 0x10000)) / 0x10000);
    return y;
}

void tv_app_main(void) {
    uint32_t result = 0;
    make_crc_table();
    for (int round = 0; round < ROUNDS; ++round) {
        for (int i = 0; i < ITEMS; ++i) items[i] = next_random() % 100000u;
        if (round & 1) shell_sort(items, ITEMS);
        else insertion_sort(items, ITEMS);
        result = result * 31 + crc_of((const uint8_t *)items, sizeof items);
        result += (uint32_t)run_program(program, round);
        result ^= (uint32_t)fixed_point(round * 977 + 1);
    }
    tv_bench_result = result;
}
