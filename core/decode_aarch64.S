// The decoder's loop for AArch64, one function per depth:
//
//   const uint8_t* decode_runs16(const uint8_t* record, const uint8_t* end,
//                                uint8_t* dst, uint32_t pixels);
//   const uint8_t* decode_runs32(const uint8_t* record, const uint8_t* end,
//                                uint8_t* dst, uint32_t pixels,
//                                const uint32_t* expand_low,
//                                const uint32_t* expand_high);
//
// The same contract and the same bytes as the ARMv7 loop (decode_arm.S) and
// the C++ loop in render.cpp: lays the runs from `record` to `end` (whole
// records, record != end) down from `dst` while they fit in `pixels`;
// returns the first record not drawn, or `end`.
//
// Every store is naturally aligned: a framebuffer may be mapped as device
// memory, where an unaligned access faults. A one-pixel run is one store; a
// run shorter than a 32-byte block is a straight run of pixel stores entered
// by a computed branch; longer ones take the fill's shape: steps of 4, 8 and
// 16 bytes to a 32-byte boundary, whole blocks as pairs of 16-byte registers
// (four a turn), the tail in steps of 64, 32, 16, 8, 4 and 2 bytes.
//
// Registers: x0 record, x1 end, x2 dst, w3 pixels left, x4 and x5 the two
// expand565 tables (32 bpp), w6 count, then the run's length in bytes, w7 /
// x7 / v0 the pattern, x8 scratch. Nothing callee-saved is touched.

        .text

// Next record, or return `end`.
.macro  next label
        cmp     x0, x1
        b.ne    \label
        ret
.endm

// w6 bytes (at least 28) from the 4-byte aligned x2 with the 32-bit pattern
// in w7; leaves bit 1 of w6 for the caller's half-word tail.
.macro  span
        orr     x7, x7, x7, lsl #32
        dup     v0.2d, x7
        tbz     x2, #2, 1f              // to an 8-byte boundary
        str     w7, [x2], #4
        sub     w6, w6, #4
1:      tbz     x2, #3, 1f              // to 16
        str     x7, [x2], #8
        sub     w6, w6, #8
1:      tbz     x2, #4, 1f              // to 32
        str     q0, [x2], #16
        sub     w6, w6, #16
1:      subs    w6, w6, #128            // the low 7 bits survive the count-down
        b.lo    2f
1:      stp     q0, q0, [x2], #32
        stp     q0, q0, [x2], #32
        stp     q0, q0, [x2], #32
        stp     q0, q0, [x2], #32
        subs    w6, w6, #128
        b.hs    1b
2:      tbz     w6, #6, 1f
        stp     q0, q0, [x2], #32
        stp     q0, q0, [x2], #32
1:      tbz     w6, #5, 1f
        stp     q0, q0, [x2], #32
1:      tbz     w6, #4, 1f
        str     q0, [x2], #16
1:      tbz     w6, #3, 1f
        str     x7, [x2], #8
1:      tbz     w6, #2, 1f
        str     w7, [x2], #4
1:
.endm

        .global decode_runs16
        .hidden decode_runs16
        .type   decode_runs16, %function
        .balign 16
decode_runs16:
.Lrecord16:
        ldrh    w7, [x0, #2]            // colour
        ldrh    w6, [x0], #4            // count; no load waits on another's write-back
        subs    w3, w3, w6              // a borrow: the run does not fit
        b.lo    .Lstop16
        cmp     w6, #1
        b.ne    .Lrun16
        strh    w7, [x2], #2
        next    .Lrecord16
.Lrun16:
        cmp     w6, #16                 // under a block: 0 to 15 pixels
        b.hs    .Lspan16
        adr     x8, .Lstored16
        sub     x8, x8, x6, lsl #2      // back one store a pixel
        br      x8
        .rept   15
        strh    w7, [x2], #2
        .endr
.Lstored16:
        next    .Lrecord16
.Lspan16:
        lsl     w6, w6, #1              // bytes
        orr     w7, w7, w7, lsl #16
        tbz     x2, #1, 1f              // to a word
        strh    w7, [x2], #2
        sub     w6, w6, #2
1:      span
        tbz     w6, #1, 1f
        strh    w7, [x2], #2
1:      next    .Lrecord16
.Lstop16:
        sub     x0, x0, #4
        ret
        .size   decode_runs16, . - decode_runs16

        .global decode_runs32
        .hidden decode_runs32
        .type   decode_runs32, %function
        .balign 16
decode_runs32:
.Lrecord32:
        ldrb    w7, [x0, #2]            // colour, low byte
        ldrb    w8, [x0, #3]            // colour, high byte
        ldrh    w6, [x0], #4            // count
        ldr     w7, [x4, x7, lsl #2]    // the table loads issue while the count arrives
        ldr     w8, [x5, x8, lsl #2]
        subs    w3, w3, w6              // a borrow: the run does not fit
        b.lo    .Lstop32
        orr     w7, w7, w8
        cmp     w6, #1
        b.ne    .Lrun32
        str     w7, [x2], #4
        next    .Lrecord32
.Lrun32:
        cmp     w6, #8                  // under a block: 0 to 7 words
        b.hs    .Lspan32
        adr     x8, .Lstored32
        sub     x8, x8, x6, lsl #2
        br      x8
        .rept   7
        str     w7, [x2], #4
        .endr
.Lstored32:
        next    .Lrecord32
.Lspan32:
        lsl     w6, w6, #2              // bytes
        span
        next    .Lrecord32
.Lstop32:
        sub     x0, x0, #4
        ret
        .size   decode_runs32, . - decode_runs32

        .section .note.GNU-stack, "", %progbits
