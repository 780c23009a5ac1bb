// pelimora-kms: plays the start-up animation from /bootimages on a DRM
// display, for kernels that give no framebuffer device, and leaves the last
// frame on the screen for the next program.
#include "core/schedule.h"
#include "kms/display.h"
#include "src/render.h"

#include "core/decode.h"

#include <sys/mman.h>
#include <unistd.h>

int main(int, char**)
{
    display_open();
    if (!display_is_open())
        return 0;
    char path[FRAME_PATH_BUFFER_SIZE];
    for (int n = 1; n <= FRAME_COUNT; ++n) {
        format_frame_path(path, n);
        // Where there is a virtual console, its text stays off the screen;
        // a kernel without one is normal here.
        (void)console_set_graphics();
        MappedFrame frame;
        if (map_frame(path, &frame) == 0) {
            decode_frame(frame.bytes, frame.size, display.pixels, display.width, display.height, 32);
            (void)munmap(const_cast<uint8_t*>(frame.bytes), frame.size);
            (void)close(frame.fd);
            display_show();
        }
        sleep_us(FRAME_DELAY_US);
    }
    display_close();
    return 0;
}
