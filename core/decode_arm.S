@ The decoder's loop for ARMv7-A (Thumb-2), one function per depth:
@
@   const uint8_t* decode_runs16(const uint8_t* record, const uint8_t* end,
@                                uint8_t* dst, uint32_t pixels);
@   const uint8_t* decode_runs32(const uint8_t* record, const uint8_t* end,
@                                uint8_t* dst, uint32_t pixels,
@                                const uint32_t* expand_low,
@                                const uint32_t* expand_high);
@
@ Lays the runs from `record` to `end` (whole records, record != end) down from
@ `dst` while they fit in `pixels`; returns the first record not drawn, or
@ `end`. The two tables are expand565 split by the colour's bytes, 256 words
@ each. The same bytes as the C++ loop in render.cpp, which the host builds
@ use; written out because the compiler spends 4 to 6 instructions more on
@ every run (pointer copies, if-converted stores, a rotated loop with two
@ branches).
@
@ Each run is drawn as one span: a one-pixel run is one store; a run shorter
@ than a 32-byte block (up to 15 pixels at 16 bpp, 7 at 32) a straight run of
@ stores entered by table branch, with no alignment to do; longer ones the
@ fill's shape: up to three steps of 16, 8 and 4 bytes to a 32-byte boundary, whole
@ 32-byte blocks (store-multiple of eight registers, four a loop), the tail in
@ steps of 16, 8, 4 and 2 bytes. Steps are chosen by shifting the length's
@ bits into the flags: lsls #28 puts bit 4 (16) in C and bit 3 (8) in N,
@ lsls #30 bit 2 (4) in C and bit 1 (2) in N.
@
@ Registers: r0 record, r1 end, r2 dst, r3 pixels left, r4 count, then the
@ run's length in bytes, r5 the pattern; r6 to r12 and lr are copies of the
@ pattern for the blocks. At 32 bits r8 and r9 hold the two tables and are
@ saved around the blocks.

        .syntax unified
        .thumb
        .text

@ Steps of 16, 8 and 4 bytes of \pattern as the bits of \bytes say.
.macro  steps bytes, pattern, scratch
        lsls    \scratch, \bytes, #28
        itt     cs
        strdcs  \pattern, \pattern, [r2], #8
        strdcs  \pattern, \pattern, [r2], #8
        it      mi
        strdmi  \pattern, \pattern, [r2], #8
        lsls    \scratch, \bytes, #30
        it      cs
        strcs   \pattern, [r2], #4
.endm

@ r4 bytes (a multiple of 4) from the 4-byte aligned r2: lead to a 32-byte
@ boundary, blocks of 32 bytes, then steps; leaves the low bits of r4 (those
@ under 4) for the caller's tail. \save: registers to keep around the blocks.
.macro  span save
        rsb     r6, r2, #0              @ bytes to the next 32-byte boundary,
        and     r6, r6, #28             @ in whole words,
        cmp     r6, r4                  @ or fewer when the run ends first
        it      hi
        bichi   r6, r4, #3
        sub     r4, r4, r6
        steps   r6, r5, r7
        subs    r4, r4, #32             @ the low 5 bits survive the count-down
        bcc     1f
        .ifnb \save
        push    {\save}
        .endif
        mov     r6, r5
        mov     r7, r5
        mov     r8, r5
        mov     r9, r5
        mov     r10, r5
        mov     r11, r5
        mov     r12, r5
        stmia   r2!, {r5-r12}           @ the block counted off above,
        tst     r4, #32                 @ then one, two, and four a loop
        it      ne
        stmiane r2!, {r5-r12}
        tst     r4, #64
        itt     ne
        stmiane r2!, {r5-r12}
        stmiane r2!, {r5-r12}
        subs    r4, r4, #128
        bcc     3f
2:      stmia   r2!, {r5-r12}
        stmia   r2!, {r5-r12}
        stmia   r2!, {r5-r12}
        stmia   r2!, {r5-r12}
        subs    r4, r4, #128
        bcs     2b
3:
        .ifnb \save
        pop     {\save}
        .endif
1:      steps   r4, r5, r6
.endm

@ Next record, or return `end`.
.macro  next label
        cmp     r0, r1
        bne     \label
        pop     {r4-r11, pc}
.endm

        .global decode_runs16
        .hidden decode_runs16
        .type   decode_runs16, %function
        .thumb_func
decode_runs16:
        push    {r4-r11, lr}
.Lrecord16:
        ldrh    r5, [r0, #2]            @ colour
        ldrh    r4, [r0], #4            @ count; no load waits on another's write-back
        subs    r3, r3, r4              @ a borrow: the run does not fit
        bcc     .Lstop16
        cmp     r4, #1
        bne     .Lrun16
        strh    r5, [r2], #2
        next    .Lrecord16
.Lrun16:
        cmp     r4, #16                 @ under a block: 1 to 15 pixels
        bhs     .Lspan16
        tbb     [pc, r4]
.Lshort16:
        .byte   (.Lspan16 - .Lshort16) / 2      @ count 0 draws nothing
        .byte   (.Lstore1 - .Lshort16) / 2
        .byte   (.Lstore2 - .Lshort16) / 2
        .byte   (.Lstore3 - .Lshort16) / 2
        .byte   (.Lstore4 - .Lshort16) / 2
        .byte   (.Lstore5 - .Lshort16) / 2
        .byte   (.Lstore6 - .Lshort16) / 2
        .byte   (.Lstore7 - .Lshort16) / 2
        .byte   (.Lstore8 - .Lshort16) / 2
        .byte   (.Lstore9 - .Lshort16) / 2
        .byte   (.Lstore10 - .Lshort16) / 2
        .byte   (.Lstore11 - .Lshort16) / 2
        .byte   (.Lstore12 - .Lshort16) / 2
        .byte   (.Lstore13 - .Lshort16) / 2
        .byte   (.Lstore14 - .Lshort16) / 2
        .byte   (.Lstore15 - .Lshort16) / 2
        .balign 2
.Lstore15:
        strh    r5, [r2], #2
.Lstore14:
        strh    r5, [r2], #2
.Lstore13:
        strh    r5, [r2], #2
.Lstore12:
        strh    r5, [r2], #2
.Lstore11:
        strh    r5, [r2], #2
.Lstore10:
        strh    r5, [r2], #2
.Lstore9:
        strh    r5, [r2], #2
.Lstore8:
        strh    r5, [r2], #2
.Lstore7:
        strh    r5, [r2], #2
.Lstore6:
        strh    r5, [r2], #2
.Lstore5:
        strh    r5, [r2], #2
.Lstore4:
        strh    r5, [r2], #2
.Lstore3:
        strh    r5, [r2], #2
.Lstore2:
        strh    r5, [r2], #2
.Lstore1:
        strh    r5, [r2], #2
        next    .Lrecord16
.Lspan16:
        lsls    r4, r4, #1              @ bytes; count 0 draws nothing
        beq     .Lspanned16
        orr     r5, r5, r5, lsl #16
        lsls    r6, r2, #31             @ C: dst is 2 past a word
        itt     cs
        strhcs  r5, [r2], #2
        subcs   r4, r4, #2
        span
        it      mi
        strhmi  r5, [r2], #2
.Lspanned16:
        next    .Lrecord16

.Lstop16:
        subs    r0, r0, #4
        pop     {r4-r11, pc}
        .size   decode_runs16, . - decode_runs16

        .global decode_runs32
        .hidden decode_runs32
        .type   decode_runs32, %function
        .thumb_func
decode_runs32:
        push    {r4-r11, lr}
        ldrd    r8, r9, [sp, #36]       @ the low-byte and high-byte tables
.Lrecord32:
        ldrb    r5, [r0, #2]            @ colour, low byte
        ldrb    r6, [r0, #3]            @ colour, high byte
        ldrh    r4, [r0], #4            @ count
        ldr     r5, [r8, r5, lsl #2]    @ the table loads issue while the count arrives
        ldr     r6, [r9, r6, lsl #2]
        subs    r3, r3, r4              @ a borrow: the run does not fit
        bcc     .Lstop32
        orr     r5, r5, r6
        cmp     r4, #1
        bne     .Lrun32
        str     r5, [r2], #4
        next    .Lrecord32
.Lrun32:
        cmp     r4, #8                  @ under a block: 1 to 7 words
        bhs     .Lspan32
        tbb     [pc, r4]
.Lshort32:
        .byte   (.Lspan32 - .Lshort32) / 2
        .byte   (.Lword1 - .Lshort32) / 2
        .byte   (.Lword2 - .Lshort32) / 2
        .byte   (.Lword3 - .Lshort32) / 2
        .byte   (.Lword4 - .Lshort32) / 2
        .byte   (.Lword5 - .Lshort32) / 2
        .byte   (.Lword6 - .Lshort32) / 2
        .byte   (.Lword7 - .Lshort32) / 2
@ Even counts: pairs of words.
.Lword6:
        strd    r5, r5, [r2], #8
.Lword4:
        strd    r5, r5, [r2], #8
.Lword2:
        strd    r5, r5, [r2], #8
        next    .Lrecord32
@ Odd counts: pairs, then one word.
.Lword7:
        strd    r5, r5, [r2], #8
.Lword5:
        strd    r5, r5, [r2], #8
.Lword3:
        strd    r5, r5, [r2], #8
.Lword1:
        str     r5, [r2], #4
        next    .Lrecord32
.Lspan32:
        lsls    r4, r4, #2              @ bytes; count 0 draws nothing
        beq     .Lspanned32
        span    "r8, r9"
.Lspanned32:
        next    .Lrecord32
.Lstop32:
        subs    r0, r0, #4
        pop     {r4-r11, pc}
        .size   decode_runs32, . - decode_runs32

        .section .note.GNU-stack, "", %progbits
