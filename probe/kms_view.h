// What pelimora-kms would find: the DRM cards, their connectors and modes,
// the display it would draw on and how that display scans out, whether the
// kernel lets the last frame stay (CLOSEFB), and whether the kernel's own
// clients (fbdev emulation, the log) draw on the display. Read with calls
// that change nothing: no connector is probed, no master is taken from
// anyone, and the one buffer made to learn the pitch is destroyed.
#pragma once

#include "kms/card_objects.h"
#include "probe/probe.h"

constexpr int MAX_PROBED_CARDS = 4, MAX_PROBED_CONNECTORS = 8, MAX_PROBED_FORMATS = 64;

struct ProbedMode {
    uint16_t width, height;
    uint32_t refresh; // Hz
    bool preferred;
};

struct ProbedConnector {
    uint32_t id, type, type_id, status; // status: drm_connector_status
    uint32_t mode_count; // as the kernel counts them; listed only when they all fit
    ProbedMode modes[MAX_CONNECTOR_MODES];
    char orientation[DRM_PROP_NAME_LEN + 1]; // its "panel orientation", or ""
};

struct ProbedCard {
    char path[32];
    char driver[32]; // the DRM driver's name, or ""
    bool held; // another program is the card's master
    int connector_count;
    ProbedConnector connectors[MAX_PROBED_CONNECTORS];
    bool found; // a connected display, as pelimora-kms would choose it
    DrmTarget target;
    uint32_t pitch; // of a dumb buffer of the mode at 32 bpp; 0 when none could be made
    int format_count; // of the CRTC's primary plane; -1 when it could not be read
    uint32_t formats[MAX_PROBED_FORMATS];
    int closefb; // 1: the kernel has CLOSEFB; 0: it has not; -1: unknown
};

struct KmsView {
    int card_count = 0;
    ProbedCard cards[MAX_PROBED_CARDS];
    int chosen = -1; // the card pelimora-kms would draw on
    char client[16] = ""; // drm_client_lib.active (Linux 6.14+): fbdev, log, or ""
    char emulation[4] = ""; // drm_kms_helper.fbdev_emulation: Y, N, or ""
    char emulated_fb[64] = ""; // a DRM driver's framebuffer /proc/fb lists, or ""
    // The kernel's fbdev client: it draws while no program is master, and
    // repaints its console when the last program closes the card.
    bool fbdev_emulation() const;
    const ProbedCard* chosen_card() const { return chosen >= 0 ? &cards[chosen] : nullptr; }
};

void probe_kms(KmsView* view);

// What the display's "panel orientation" asks of the frames: degrees
// clockwise to turn them (encode --rotate); 0 for none or unknown.
int orientation_turn(const char* orientation);

// Whether pelimora-kms would draw on the display found.
bool kms_draws(const KmsView& view);

// What to do about what was found, given whether the player has a framebuffer.
void kms_advice(const KmsView& view, bool framebuffer, Advice* advice);

// The report's "drm" object, printed on standard output; `vt`: the kernel has one.
void print_kms_view(const KmsView& view, bool vt);
