// The DRM display pelimora-kms draws on, held from display_open to
// display_close: the first card with a connected connector, that
// connector's CRTC in its current mode (else the connector's preferred
// one), and one dumb buffer of that size at 32 bits a pixel, scanned out as
// XRGB8888, that the frames are drawn into.
#pragma once

#include "core/devices.h"
#include "kms/card_objects.h"

#include <drm/drm_mode.h>
#include <stdint.h>

constexpr int DRI_PATH_BUFFER_SIZE = 32;

struct Display {
    int fd; // the card; negative when none is held
    char path[DRI_PATH_BUFFER_SIZE];
    DrmTarget target; // the connector, its CRTC and the mode
    uint32_t width, height, pitch; // the buffer's, in pixels and bytes a row
    uint32_t handle, fb_id; // the dumb buffer and its framebuffer
    uint64_t size;
    uint8_t* pixels; // the buffer's mapping
    bool shown; // the framebuffer is on the CRTC
};

extern Display display;

// Finds the display and makes the buffer; on failure logs one line naming
// what is missing (no card, no connected display, another master holding
// the card, no buffer) and holds nothing.
void display_open();
// Puts the buffer on the screen: the first time by setting the CRTC, then
// by marking it dirty, for drivers that copy it out only when told.
void display_show();
// Leaves the buffer on the screen for whoever opens the card next (where the
// kernel can: CLOSEFB), and lets go of the card.
void display_close();

inline bool display_is_open()
{
    return display.fd >= 0;
}
