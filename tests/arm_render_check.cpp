// The fills and the decoder as built for ARM (store-multiple blocks, the
// decoder's own loop) against the byte references, run under qemu-arm-static.
// C library only: it links like the player.
#include "tests/support/decode_sweep.h"
#include "tests/support/fill_sweep.h"

#include <stdio.h>

int main()
{
    int shown = 0;
    int failures = fill_sweep([&shown](int width, int offset, int nbytes, int byte, int found, int expected) {
        if (shown++ < 10)
            printf("fill%d offset %d nbytes %d: byte %d is %02x, not %02x\n", width * 8, offset, nbytes, byte,
                found, expected);
    });
    printf(failures ? "%d bytes wrong\n" : "ok: fills match the reference\n", failures);
    static DecodeSweep sweep;
    int frames = decode_sweep(sweep, [&shown](uint32_t bpp, int case_number) {
        if (shown++ < 20)
            printf("decode at %u bpp: case %d differs from the reference\n", bpp, case_number);
    });
    printf(frames ? "%d frames wrong\n" : "ok: the decoder matches the reference\n", frames);
    return failures != 0 || frames != 0;
}
