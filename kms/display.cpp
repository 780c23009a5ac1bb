#include "kms/display.h"

#include "core/drm_closefb.h"
#include "src/kmsg.h"

#include <drm/drm.h>
#include <drm/drm_fourcc.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

Display display = { .fd = -1 };

namespace {

CardObjects objects;

// The first card with a connected display, left open as its master; false
// with a line in the kernel log naming what is missing. A card another
// program holds (a compositor) is not ours to draw on, nor to probe.
bool open_card()
{
    char first[DRI_PATH_BUFFER_SIZE] = "", held[DRI_PATH_BUFFER_SIZE] = "";
    for (int n = 0; n < DRI_CARD_COUNT; ++n) {
        snprintf(display.path, sizeof display.path, DRI_CARD_PATH_FORMAT, n);
        display.fd = open(display.path, O_RDWR | O_CLOEXEC);
        if (display.fd < 0)
            continue;
        if (!first[0])
            snprintf(first, sizeof first, "%s", display.path);
        // Opened when no program held the card, this file is its master.
        if (drm_call(display.fd, DRM_IOCTL_SET_MASTER, nullptr) != 0) {
            if (!held[0])
                snprintf(held, sizeof held, "%s", display.path);
        } else if (read_card_objects(display.fd, &objects)
            && (find_target(display.fd, objects, false, &display.target)
                || find_target(display.fd, objects, true, &display.target))) {
            // A connector the kernel has not probed (no console or client on
            // the card) is probed the second time round, as nothing is shown.
            return true;
        }
        (void)close(display.fd);
        display.fd = -1;
    }
    if (held[0])
        kmsg_print(3, "<3>pelimora: another program holds '%s': nothing drawn\n", held);
    else if (first[0])
        kmsg_print(3, "<3>pelimora: no connected display on '%s'\n", first);
    else
        kmsg_print(3, CANNOT_OPEN_FORMAT, "/dev/dri/card0");
    return false;
}

bool make_buffer()
{
    drm_mode_create_dumb dumb
        = { .height = display.target.mode.vdisplay, .width = display.target.mode.hdisplay, .bpp = 32 };
    if (drm_call(display.fd, DRM_IOCTL_MODE_CREATE_DUMB, &dumb) != 0)
        return false;
    display.handle = dumb.handle, display.pitch = dumb.pitch, display.size = dumb.size;
    display.width = dumb.width, display.height = dumb.height;
    // The decoder takes the screen's size in 32 bits of bytes.
    if (uint64_t(display.width) * display.height * 4 > UINT32_MAX)
        return false;
    drm_mode_map_dumb map = { .handle = dumb.handle };
    if (drm_call(display.fd, DRM_IOCTL_MODE_MAP_DUMB, &map) != 0)
        return false;
    // A 64-bit offset: on a 64-bit kernel it lies above 4 GiB.
    void* pixels
        = mmap(nullptr, display.size, PROT_READ | PROT_WRITE, MAP_SHARED, display.fd, off_t(map.offset));
    if (pixels == MAP_FAILED)
        return false;
    display.pixels = static_cast<uint8_t*>(pixels);
    drm_mode_fb_cmd2 framebuffer = { .width = display.width,
        .height = display.height,
        .pixel_format = DRM_FORMAT_XRGB8888,
        .handles = { display.handle },
        .pitches = { display.pitch } };
    if (drm_call(display.fd, DRM_IOCTL_MODE_ADDFB2, &framebuffer) != 0)
        return false;
    display.fb_id = framebuffer.fb_id;
    return true;
}

} // namespace

static_assert(sizeof(off_t) == 8, "dumb-buffer offsets need a 64-bit off_t");

void display_open()
{
    if (!open_card() || make_buffer())
        return;
    kmsg_print(3, "<3>pelimora: cannot make a screen buffer on '%s'\n", display.path);
    (void)close(display.fd); // takes the buffer and its mapping's framebuffer along
    if (display.pixels)
        (void)munmap(display.pixels, display.size);
    display.fd = -1;
}

void display_show()
{
    if (display.shown) {
        drm_mode_fb_dirty_cmd dirty = { .fb_id = display.fb_id };
        (void)drm_call(
            display.fd, DRM_IOCTL_MODE_DIRTYFB, &dirty); // drivers that scan out directly refuse it
        return;
    }
    drm_mode_crtc crtc = { .set_connectors_ptr = address(&display.target.connector_id),
        .count_connectors = 1,
        .crtc_id = display.target.crtc_id,
        .fb_id = display.fb_id,
        .mode_valid = 1,
        .mode = display.target.mode };
    display.shown = drm_call(display.fd, DRM_IOCTL_MODE_SETCRTC, &crtc) == 0;
}

void display_close()
{
    if (!display_is_open())
        return;
    if (display.shown) {
        drm_mode_closefb closefb = { .fb_id = display.fb_id, .pad = 0 };
        (void)drm_call(display.fd, DRM_IOCTL_MODE_CLOSEFB, &closefb);
    }
    (void)munmap(display.pixels, display.size);
    (void)close(display.fd);
    display.fd = -1;
}
