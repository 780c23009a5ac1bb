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

constexpr int MAX_OBJECTS = 32; // CRTCs, connectors, encoders of one card
constexpr int MAX_MODES = 128; // a television lists a hundred
constexpr uint32_t CONNECTED = 1, UNKNOWN = 3; // drm_connector_status

uint32_t crtc_ids[MAX_OBJECTS], connector_ids[MAX_OBJECTS], encoder_ids[MAX_OBJECTS];
drm_mode_modeinfo modes[MAX_MODES];
uint32_t crtc_count, connector_count;

int drm_ioctl(unsigned long request, void* argument)
{
    int result;
    do
        result = ioctl(display.fd, request, argument);
    while (result != 0 && (errno == EINTR || errno == EAGAIN));
    return result;
}

uint64_t address(const void* pointer)
{
    return reinterpret_cast<uintptr_t>(pointer);
}

bool read_resources()
{
    drm_mode_card_res resources = {};
    resources.crtc_id_ptr = address(crtc_ids), resources.count_crtcs = MAX_OBJECTS;
    resources.connector_id_ptr = address(connector_ids), resources.count_connectors = MAX_OBJECTS;
    if (drm_ioctl(DRM_IOCTL_MODE_GETRESOURCES, &resources) != 0)
        return false;
    crtc_count = resources.count_crtcs < MAX_OBJECTS ? resources.count_crtcs : MAX_OBJECTS;
    connector_count = resources.count_connectors < MAX_OBJECTS ? resources.count_connectors : MAX_OBJECTS;
    return true;
}

// The connector as the kernel last probed it: room for every mode, so that
// no probe is forced (which can make the display flicker). `probe` asks for
// one, for a connector the kernel has never probed.
bool read_connector(uint32_t id, drm_mode_get_connector* connector, bool probe)
{
    *connector = {};
    connector->connector_id = id;
    connector->modes_ptr = address(modes), connector->count_modes = probe ? 0 : MAX_MODES;
    connector->encoders_ptr = address(encoder_ids), connector->count_encoders = MAX_OBJECTS;
    if (drm_ioctl(DRM_IOCTL_MODE_GETCONNECTOR, connector) != 0)
        return false;
    if (probe) // the modes were counted, not copied
        return read_connector(id, connector, false);
    // More than there is room for are not copied at all: then only the
    // CRTC's current mode, or the bound encoder, can be used.
    if (connector->count_modes > MAX_MODES)
        connector->count_modes = 0;
    if (connector->count_encoders > MAX_OBJECTS)
        connector->count_encoders = 0;
    return true;
}

// The CRTC the connector's encoder drives, else the first its encoders can
// drive (at virtio-gpu's start no encoder is bound yet): 0 when none.
uint32_t crtc_of(const drm_mode_get_connector& connector)
{
    drm_mode_get_encoder encoder = { .encoder_id = connector.encoder_id };
    if (encoder.encoder_id && drm_ioctl(DRM_IOCTL_MODE_GETENCODER, &encoder) == 0 && encoder.crtc_id)
        return encoder.crtc_id;
    for (uint32_t e = 0; e < connector.count_encoders; ++e) {
        encoder = { .encoder_id = encoder_ids[e] };
        if (drm_ioctl(DRM_IOCTL_MODE_GETENCODER, &encoder) != 0)
            continue;
        for (uint32_t c = 0; c < crtc_count; ++c)
            if (encoder.possible_crtcs & (1u << c))
                return crtc_ids[c];
    }
    return 0;
}

// The mode the CRTC shows now (the firmware's or the console's), else the
// connector's preferred one, else its first.
bool choose_mode(const drm_mode_get_connector& connector)
{
    drm_mode_crtc crtc = { .crtc_id = display.crtc_id };
    if (drm_ioctl(DRM_IOCTL_MODE_GETCRTC, &crtc) == 0 && crtc.mode_valid) {
        display.mode = crtc.mode;
        return true;
    }
    for (uint32_t m = 0; m < connector.count_modes; ++m)
        if (modes[m].type & DRM_MODE_TYPE_PREFERRED || m + 1 == connector.count_modes) {
            display.mode = modes[m];
            return true;
        }
    return false;
}

// A connected connector of the open card, with its CRTC and mode.
bool find_display(bool probe)
{
    for (uint32_t i = 0; i < connector_count; ++i) {
        drm_mode_get_connector connector;
        if (!read_connector(connector_ids[i], &connector, false))
            continue;
        if (probe && connector.connection == UNKNOWN && !read_connector(connector_ids[i], &connector, true))
            continue;
        if (connector.connection != CONNECTED)
            continue;
        display.connector_id = connector.connector_id;
        display.crtc_id = crtc_of(connector);
        if (display.crtc_id && choose_mode(connector))
            return true;
    }
    return false;
}

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
        if (drm_ioctl(DRM_IOCTL_SET_MASTER, nullptr) != 0) {
            if (!held[0])
                snprintf(held, sizeof held, "%s", display.path);
        } else if (read_resources() && (find_display(false) || find_display(true))) {
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
        = { .height = display.mode.vdisplay, .width = display.mode.hdisplay, .bpp = 32 };
    if (drm_ioctl(DRM_IOCTL_MODE_CREATE_DUMB, &dumb) != 0)
        return false;
    display.handle = dumb.handle, display.pitch = dumb.pitch, display.size = dumb.size;
    display.width = dumb.width, display.height = dumb.height;
    // The decoder takes the screen's size in 32 bits of bytes.
    if (uint64_t(display.width) * display.height * 4 > UINT32_MAX)
        return false;
    drm_mode_map_dumb map = { .handle = dumb.handle };
    if (drm_ioctl(DRM_IOCTL_MODE_MAP_DUMB, &map) != 0)
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
    if (drm_ioctl(DRM_IOCTL_MODE_ADDFB2, &framebuffer) != 0)
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
        (void)drm_ioctl(DRM_IOCTL_MODE_DIRTYFB, &dirty); // drivers that scan out directly refuse it
        return;
    }
    drm_mode_crtc crtc = { .set_connectors_ptr = address(&display.connector_id),
        .count_connectors = 1,
        .crtc_id = display.crtc_id,
        .fb_id = display.fb_id,
        .mode_valid = 1,
        .mode = display.mode };
    display.shown = drm_ioctl(DRM_IOCTL_MODE_SETCRTC, &crtc) == 0;
}

void display_close()
{
    if (!display_is_open())
        return;
    if (display.shown) {
        drm_mode_closefb closefb = { .fb_id = display.fb_id, .pad = 0 };
        (void)drm_ioctl(DRM_IOCTL_MODE_CLOSEFB, &closefb);
    }
    (void)munmap(display.pixels, display.size);
    (void)close(display.fd);
    display.fd = -1;
}
