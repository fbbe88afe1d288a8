/* Switch-table helpers of Thumb code. The caller does "bl helper" with the
 * case index in r0; the table follows the bl, so lr (Thumb bit set) points
 * at it. Byte and halfword tables hold half the distance from the table to
 * the case; word tables are word-aligned and hold the distance itself.
 * Every register except lr is preserved. */
    .syntax unified
    .text
    .thumb

.macro CASE_HELPER name
    .global \name
    .type \name, %function
    .thumb_func
\name:
.endm

    .align 1
CASE_HELPER __gnu_thumb1_case_uqi
    push {r1}
    mov r1, lr
    lsrs r1, r1, #1
    lsls r1, r1, #1
    ldrb r1, [r1, r0]
    lsls r1, r1, #1
    add lr, lr, r1
    pop {r1}
    bx lr
    .size __gnu_thumb1_case_uqi, . - __gnu_thumb1_case_uqi

CASE_HELPER __gnu_thumb1_case_sqi
    push {r1}
    mov r1, lr
    lsrs r1, r1, #1
    lsls r1, r1, #1
    ldrsb r1, [r1, r0]
    lsls r1, r1, #1
    add lr, lr, r1
    pop {r1}
    bx lr
    .size __gnu_thumb1_case_sqi, . - __gnu_thumb1_case_sqi

CASE_HELPER __gnu_thumb1_case_uhi
    push {r0, r1}
    mov r1, lr
    lsrs r1, r1, #1
    lsls r0, r0, #1
    lsls r1, r1, #1
    ldrh r1, [r1, r0]
    lsls r1, r1, #1
    add lr, lr, r1
    pop {r0, r1}
    bx lr
    .size __gnu_thumb1_case_uhi, . - __gnu_thumb1_case_uhi

CASE_HELPER __gnu_thumb1_case_shi
    push {r0, r1}
    mov r1, lr
    lsrs r1, r1, #1
    lsls r0, r0, #1
    lsls r1, r1, #1
    ldrsh r1, [r1, r0]
    lsls r1, r1, #1
    add lr, lr, r1
    pop {r0, r1}
    bx lr
    .size __gnu_thumb1_case_shi, . - __gnu_thumb1_case_shi

CASE_HELPER __gnu_thumb1_case_si
    push {r0, r1}
    mov r1, lr
    adds r1, r1, #2          @ lr - 1 rounded up to a word: (lr + 2) & ~3
    lsrs r1, r1, #2
    lsls r0, r0, #2
    lsls r1, r1, #2
    ldr r0, [r1, r0]
    adds r0, r0, r1
    movs r1, #1
    orrs r0, r0, r1
    mov lr, r0
    pop {r0, r1}
    bx lr
    .size __gnu_thumb1_case_si, . - __gnu_thumb1_case_si

    .section .note.GNU-stack,"",%progbits
