// pelimora: plays the start-up animation from /bootimages on the framebuffer.
#include "core/schedule.h"
#include "src/render.h"
#include "src/screen.h"

int main(int, char**)
{
    screen_open();
    // Without a screen, switching the console to graphics would only hide
    // the boot messages.
    if (!screen_is_open())
        return 0;
    char path[FRAME_PATH_BUFFER_SIZE];
    for (int n = 1; n <= FRAME_COUNT; ++n) {
        format_frame_path(path, n);
        (void)show_frame(path);
        sleep_us(FRAME_DELAY_US);
    }
    screen_close();
    return 0;
}
