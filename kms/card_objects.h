// A DRM card's connectors, encoders, CRTCs and modes, read as the kernel
// last probed them, and the display pelimora-kms draws on: the first
// connected connector, the CRTC it is (or can be) driven by, and the mode
// shown now, else the connector's preferred one. Shared by pelimora-kms and
// the probe; nothing here changes the card, but a probe asked for.
#pragma once

#include <drm/drm_mode.h>
#include <stdint.h>

constexpr int MAX_CARD_OBJECTS = 32; // CRTCs, connectors, encoders of one card
constexpr int MAX_CONNECTOR_MODES = 128; // a television lists a hundred
constexpr uint32_t CONNECTOR_CONNECTED = 1, CONNECTOR_UNKNOWN = 3; // drm_connector_status

struct CardObjects {
    uint32_t crtcs[MAX_CARD_OBJECTS], connectors[MAX_CARD_OBJECTS];
    uint32_t crtc_count, connector_count;
};

// A connector with its modes and encoders; `info`'s pointers lead into it.
struct ConnectorState {
    drm_mode_get_connector info;
    uint32_t encoders[MAX_CARD_OBJECTS];
    drm_mode_modeinfo modes[MAX_CONNECTOR_MODES];
};

// Where pelimora-kms draws: a connector, its CRTC and the mode to set.
struct DrmTarget {
    uint32_t connector_id, crtc_id;
    drm_mode_modeinfo mode;
};

// ioctl, repeated while the kernel asks for it again.
int drm_call(int fd, unsigned long request, void* argument);
// A pointer as the kernel's records carry one: a 64-bit field.
inline uint64_t address(const void* pointer)
{
    return reinterpret_cast<uintptr_t>(pointer);
}

[[nodiscard]] bool read_card_objects(int fd, CardObjects* objects);
// The connector as last probed: room for every mode, so no probe is forced
// (it can make the display flicker). With `probe`, asks for one, which the
// kernel makes only for the card's master. A connector with more modes than
// there is room for, or more encoders, lists none of them.
[[nodiscard]] bool read_connector(int fd, uint32_t id, ConnectorState* connector, bool probe);
// The CRTC the connector's encoder drives, else the first one its encoders
// can drive (at virtio-gpu's start no encoder is bound yet); 0 when none.
uint32_t crtc_of(int fd, const CardObjects& objects, const ConnectorState& connector);
// The mode `crtc` shows now (the firmware's or the console's), else the
// connector's preferred one, else its last.
[[nodiscard]] bool choose_mode(
    int fd, uint32_t crtc, const ConnectorState& connector, drm_mode_modeinfo* mode);
// The first connected connector with a CRTC and a mode; with `probe`, one
// the kernel has never probed is probed first.
[[nodiscard]] bool find_target(int fd, const CardObjects& objects, bool probe, DrmTarget* target);
