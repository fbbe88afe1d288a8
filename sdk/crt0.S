/* Start-up code: the first instruction of the code image.
 *
 * The machine enters here in Thumb state with lr pointing at its return
 * sentinel and r0 telling how to register the application:
 *  - the address of the registration table (usually 0x0A000000): the entry
 *    goes to its word 0 and the second word to word 1;
 *  - the system entry 0x0C00F001 (the native layout): the entry and the
 *    second word are handed over with system request 1950.
 * The machine then calls tv_app_main. tv_app_second is optional (weak). */
    .syntax unified
    .section .text.start, "ax", %progbits
    .thumb
    .align 1
    .global _start
    .type _start, %function
    .thumb_func
_start:
    push {r4, lr}
    movs r4, r0

    /* The machine hands over zeroed memory; clear .bss anyway so that a
     * program stays correct if it is ever started twice. */
    ldr r1, =__bss_start
    ldr r2, =__bss_end
    movs r3, #0
1:  cmp r1, r2
    bhs 2f
    str r3, [r1]
    adds r1, r1, #4
    b 1b
2:
    ldr r1, =tv_app_main
    ldr r2, =tv_app_second
    lsrs r3, r4, #12
    ldr r0, =0x0C00F
    cmp r3, r0
    beq 3f

    str r1, [r4]
    str r2, [r4, #4]
    b 4f

3:  ldr r0, =tv_native_words
    str r1, [r0]
    str r2, [r0, #4]
    movs r1, r0
    ldr r0, =1950
    bl .Lcall_r4
4:  movs r0, #0
    pop {r4}
    pop {r1}
    bx r1

.Lcall_r4:
    bx r4
    .size _start, . - _start
    .pool

    .weak tv_app_second

    .section .bss.tv_native_words, "aw", %nobits
    .align 2
    .global tv_native_words
tv_native_words:
    .space 12

    .section .note.GNU-stack,"",%progbits
