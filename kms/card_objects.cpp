#include "kms/card_objects.h"

#include <drm/drm.h>
#include <errno.h>
#include <sys/ioctl.h>

namespace {

// One connector at a time is read; its modes are large.
ConnectorState scratch;

} // namespace

int drm_call(int fd, unsigned long request, void* argument)
{
    int result;
    do
        result = ioctl(fd, request, argument);
    while (result != 0 && (errno == EINTR || errno == EAGAIN));
    return result;
}

bool read_card_objects(int fd, CardObjects* objects)
{
    drm_mode_card_res resources = {};
    resources.crtc_id_ptr = address(objects->crtcs), resources.count_crtcs = MAX_CARD_OBJECTS;
    resources.connector_id_ptr = address(objects->connectors), resources.count_connectors = MAX_CARD_OBJECTS;
    if (drm_call(fd, DRM_IOCTL_MODE_GETRESOURCES, &resources) != 0)
        return false;
    objects->crtc_count = resources.count_crtcs < MAX_CARD_OBJECTS ? resources.count_crtcs : MAX_CARD_OBJECTS;
    objects->connector_count
        = resources.count_connectors < MAX_CARD_OBJECTS ? resources.count_connectors : MAX_CARD_OBJECTS;
    return true;
}

bool read_connector(int fd, uint32_t id, ConnectorState* connector, bool probe)
{
    drm_mode_get_connector& info = connector->info;
    info = {};
    info.connector_id = id;
    info.modes_ptr = address(connector->modes), info.count_modes = probe ? 0 : MAX_CONNECTOR_MODES;
    info.encoders_ptr = address(connector->encoders), info.count_encoders = MAX_CARD_OBJECTS;
    if (drm_call(fd, DRM_IOCTL_MODE_GETCONNECTOR, &info) != 0)
        return false;
    if (probe) // the modes were counted, not copied
        return read_connector(fd, id, connector, false);
    // More than there is room for are not copied at all.
    if (info.count_modes > MAX_CONNECTOR_MODES)
        info.count_modes = 0;
    if (info.count_encoders > MAX_CARD_OBJECTS)
        info.count_encoders = 0;
    return true;
}

uint32_t crtc_of(int fd, const CardObjects& objects, const ConnectorState& connector)
{
    drm_mode_get_encoder encoder = { .encoder_id = connector.info.encoder_id };
    if (encoder.encoder_id && drm_call(fd, DRM_IOCTL_MODE_GETENCODER, &encoder) == 0 && encoder.crtc_id)
        return encoder.crtc_id;
    for (uint32_t e = 0; e < connector.info.count_encoders; ++e) {
        encoder = { .encoder_id = connector.encoders[e] };
        if (drm_call(fd, DRM_IOCTL_MODE_GETENCODER, &encoder) != 0)
            continue;
        for (uint32_t c = 0; c < objects.crtc_count; ++c)
            if (encoder.possible_crtcs & (1u << c))
                return objects.crtcs[c];
    }
    return 0;
}

bool choose_mode(int fd, uint32_t crtc_id, const ConnectorState& connector, drm_mode_modeinfo* mode)
{
    drm_mode_crtc crtc = { .crtc_id = crtc_id };
    if (drm_call(fd, DRM_IOCTL_MODE_GETCRTC, &crtc) == 0 && crtc.mode_valid) {
        *mode = crtc.mode;
        return true;
    }
    const uint32_t count = connector.info.count_modes;
    for (uint32_t m = 0; m < count; ++m)
        if (connector.modes[m].type & DRM_MODE_TYPE_PREFERRED || m + 1 == count) {
            *mode = connector.modes[m];
            return true;
        }
    return false;
}

bool find_target(int fd, const CardObjects& objects, bool probe, DrmTarget* target)
{
    for (uint32_t i = 0; i < objects.connector_count; ++i) {
        const uint32_t id = objects.connectors[i];
        if (!read_connector(fd, id, &scratch, false))
            continue;
        if (probe && scratch.info.connection == CONNECTOR_UNKNOWN && !read_connector(fd, id, &scratch, true))
            continue;
        if (scratch.info.connection != CONNECTOR_CONNECTED)
            continue;
        target->connector_id = id;
        target->crtc_id = crtc_of(fd, objects, scratch);
        if (target->crtc_id && choose_mode(fd, target->crtc_id, scratch, &target->mode))
            return true;
    }
    return false;
}
