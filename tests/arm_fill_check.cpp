// The fills as built for ARM (store-multiple blocks) against the byte
// reference, run under qemu-arm-static. C library only: it links like the player.
#include "fill_sweep.h"

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
    return failures != 0;
}
