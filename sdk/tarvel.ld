/* Memory layout of a guest program: code and read-only data from the load
 * address (default 0x01000000, the machine's base when the archive leaves
 * the load address 0), then initialised data and .bss. The machine copies
 * the initialised data in place and zeroes everything else; the stack and
 * heap are its own. Link with --defsym=TARVEL_LOAD_ADDRESS=<address> to
 * place the program elsewhere. */
OUTPUT_ARCH(arm)
ENTRY(_start)

__tarvel_load = DEFINED(TARVEL_LOAD_ADDRESS) ? TARVEL_LOAD_ADDRESS : 0x01000000;

SECTIONS
{
    . = __tarvel_load;
    .text : {
        KEEP(*(.text.start))
        *(.text .text.* .glue_7 .glue_7t .vfp11_veneer .v4_bx)
    }
    .rodata : {
        *(.rodata .rodata.*)
        . = ALIGN(4);
    }
    __code_end = .;

    /* At least one word between code and data: the machine takes a
     * big-endian program with an explicit load address whose data starts
     * within the code segment for the native layout. */
    . = ALIGN(. + 4, 8);
    .data : {
        __data_start = .;
        *(.data .data.*)
        . = ALIGN(4);
        __data_end = .;
    }
    .bss (NOLOAD) : {
        __bss_start = .;
        *(.bss .bss.* COMMON)
        . = ALIGN(4);
        __bss_end = .;
    }
    __image_end = .;

    /DISCARD/ : { *(.ARM.exidx*) *(.ARM.extab*) *(.comment) *(.note.*) *(.ARM.attributes) }
}
