// The fills as built for ARM (store-multiple blocks) against a plain byte
// reference, at every alignment and length up to a few hundred bytes, run
// under qemu-arm-static. C library only: it links like the player.
#include "render.h"

#include <stdio.h>
#include <string.h>

int main()
{
    static unsigned char buffer[64 + 512 + 64] __attribute__((aligned(64)));
    int failures = 0;
    for (int width = 2; width <= 4; width += 2)
        for (int offset = 0; offset < 32; offset += width)
            for (int nbytes = 0; nbytes <= 300; ++nbytes) {
                memset(buffer, 0xCC, sizeof buffer);
                unsigned char* dst = buffer + 64 + offset;
                const unsigned char pattern[4] = { 0xD4, 0xC3, 0xB2, 0xA1 };
                if (width == 2)
                    fill16(dst, 0xC3D4, nbytes);
                else
                    fill32(dst, 0xA1B2C3D4, nbytes);
                int written = nbytes < 2 ? 0 : nbytes & ~1;
                for (int i = -64 - offset; i < 512 + 64 - 64 - offset; ++i) {
                    unsigned char expected = i >= 0 && i < written ? pattern[i % width] : 0xCC;
                    if (dst[i] != expected && failures++ < 10)
                        printf("fill%d offset %d nbytes %d: byte %d is %02x, not %02x\n", width * 8, offset,
                            nbytes, i, dst[i], expected);
                }
            }
    printf(failures ? "%d bytes wrong\n" : "ok: fills match the reference\n", failures);
    return failures != 0;
}
