/* 64-bit division entry points: quotient in r0/r1 and remainder in r2/r3.
 * The remainder is stored by the C helper on the stack and loaded back into
 * r2/r3; the register pair follows memory word order in both byte orders. */
    .syntax unified
    .text

.macro DIVMOD64 name, helper
    .global \name
    .type \name, %function
#if defined(__thumb__)
    .thumb_func
\name:
    push {r4, lr}
    sub sp, #16
    add r4, sp, #8
    str r4, [sp]
    bl \helper
    ldr r2, [sp, #8]
    ldr r3, [sp, #12]
    add sp, #16
    ldr r4, [sp, #4]
    mov ip, r4
    pop {r4}
    add sp, #4
    bx ip
#else
\name:
    push {r4, lr}
    sub sp, sp, #16
    add r4, sp, #8
    str r4, [sp]
    bl \helper
    ldr r2, [sp, #8]
    ldr r3, [sp, #12]
    add sp, sp, #16
    pop {r4, lr}
    bx lr
#endif
    .size \name, . - \name
.endm

#if defined(__thumb__)
    .thumb
#else
    .arm
#endif
    .align 2
    DIVMOD64 __aeabi_uldivmod, rt_udivmod64
    DIVMOD64 __aeabi_ldivmod, rt_sdivmod64

    .section .note.GNU-stack,"",%progbits
