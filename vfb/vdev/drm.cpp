// A DRM card at /dev/dri/card0, for pelimora-kms and the probe: one connector
// (with a panel orientation on request), encoder, CRTC and primary plane, the mode and pitch of the
// framebuffer settings (VDEV_FB, VDEV_FB_LINE), dumb buffers in memfds mapped at offsets above 4 GiB,
// framebuffers of the formats virtio-gpu scans out, master, and CLOSEFB or not. What the CRTC shows is
// captured at SETCRTC, DIRTYFB and PAGE_FLIP, as a pan is on the framebuffer. Every DRM call is logged as an
// ioctl event named by its path.
#include "core/drm_closefb.h"
#include "core/screen_limits.h"
#include "vfb/vdev/vdev.h"

#include <drm/drm.h>
#include <drm/drm_fourcc.h>
#include <drm/drm_mode.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace vdev {
namespace {

constexpr uint32_t CRTC_ID = 31, ENCODER_ID = 32, CONNECTOR_ID = 33, PLANE_ID = 34, FIRST_FB_ID = 40;
constexpr uint32_t TYPE_PROPERTY = 50, ORIENTATION_PROPERTY = 51;
constexpr int BUFFERS = 4;
constexpr uint32_t MANY_MODES = 300;
constexpr uint64_t MAP_BASE = uint64_t(1) << 32; // where a 64-bit kernel puts dumb-buffer offsets
constexpr uint64_t MAP_STEP = uint64_t(1) << 28;

struct Card {
    bool present = false;
    bool disconnected = false, unprobed = false, unbound = false, mode_unset = false;
    bool other_master = false, no_closefb = false;
    bool many_modes = false; // a television's hundreds, the preferred one last
    bool beside_fb = false; // the framebuffer is there too
    bool simpledrm = false; // named as the hand-over driver
    int orientation = -1; // the panel's, by the kernel's value; -1: no such property
    int identity = -1; // a memfd whose dups are the card's descriptors
    int memory[BUFFERS] = { -1, -1, -1, -1 }; // dumb buffers by handle - 1
    uint64_t size[BUFFERS] = {};
    uint32_t fb_handle[BUFFERS] = {}; // framebuffers by id - FIRST_FB_ID: their buffer's handle
    uint32_t on_crtc = 0; // the framebuffer shown
    int shows = 0;
};
Card card;

bool has(const char* options, const char* option)
{
    const char* at = strstr(options, option);
    size_t n = strlen(option);
    return at && (at == options || at[-1] == ',') && (at[n] == '\0' || at[n] == ',');
}

drm_mode_modeinfo mode()
{
    drm_mode_modeinfo m = {};
    m.hdisplay = uint16_t(config.xres), m.vdisplay = uint16_t(config.yres);
    m.htotal = uint16_t(config.xres + 160), m.vtotal = uint16_t(config.yres + 30), m.vrefresh = 60;
    m.clock = uint32_t(uint64_t(m.htotal) * m.vtotal * 60 / 1000);
    m.type = DRM_MODE_TYPE_PREFERRED | DRM_MODE_TYPE_DRIVER;
    snprintf(m.name, sizeof m.name, "%ux%u", config.xres, config.yres);
    return m;
}

// The kernel's records carry the caller's pointers as 64-bit integers.
void* user_pointer(uint64_t pointer)
{
    return reinterpret_cast<void*>(pointer); // NOLINT(performance-no-int-to-ptr): the interface's own form
}

void put_ids(uint64_t pointer, uint32_t* count, uint32_t id)
{
    if (*count >= 1 && pointer)
        memcpy(user_pointer(pointer), &id, sizeof id);
    *count = 1;
}

int get_resources(drm_mode_card_res* res)
{
    put_ids(res->crtc_id_ptr, &res->count_crtcs, CRTC_ID);
    put_ids(res->encoder_id_ptr, &res->count_encoders, ENCODER_ID);
    put_ids(res->connector_id_ptr, &res->count_connectors, CONNECTOR_ID);
    res->count_fbs = 0;
    res->min_width = res->min_height = 1, res->max_width = res->max_height = MAX_SCREEN_SIDE;
    return 0;
}

// Drawing on the screen and probing need master, as in the kernel.
bool master()
{
    return !card.other_master;
}

// As the kernel: no room for modes asks for a probe (read-only without
// master); modes are copied only when all of them fit.
int get_connector(drm_mode_get_connector* c, Event* e)
{
    if (c->connector_id != CONNECTOR_ID)
        return fail(ENOENT);
    if (c->count_modes == 0) {
        snprintf(e->path, sizeof e->path, "GETCONNECTOR probe");
        card.unprobed = card.unprobed && !master();
    }
    const bool known = !card.unprobed;
    c->connection = card.disconnected ? 2 : known ? 1 : 3;
    c->encoder_id = card.unbound ? 0 : ENCODER_ID;
    c->connector_type = DRM_MODE_CONNECTOR_VIRTUAL, c->connector_type_id = 1;
    const uint32_t modes = known && !card.disconnected ? (card.many_modes ? MANY_MODES : 1) : 0;
    if (c->count_modes >= modes && modes && c->modes_ptr)
        for (uint32_t i = 0; i < modes; ++i) {
            drm_mode_modeinfo m = mode();
            if (i + 1 < modes)
                m.type = DRM_MODE_TYPE_DRIVER, m.hdisplay = uint16_t(m.hdisplay / 2);
            memcpy(static_cast<drm_mode_modeinfo*>(user_pointer(c->modes_ptr)) + i, &m, sizeof m);
        }
    c->count_modes = modes;
    put_ids(c->encoders_ptr, &c->count_encoders, ENCODER_ID);
    c->count_props = 0;
    return 0;
}

int get_encoder(drm_mode_get_encoder* e)
{
    if (e->encoder_id != ENCODER_ID)
        return fail(ENOENT);
    e->encoder_type = DRM_MODE_ENCODER_VIRTUAL;
    e->crtc_id = card.unbound ? 0 : CRTC_ID;
    e->possible_crtcs = 1, e->possible_clones = 0;
    return 0;
}

int get_crtc(drm_mode_crtc* c)
{
    if (c->crtc_id != CRTC_ID)
        return fail(ENOENT);
    c->fb_id = card.on_crtc;
    c->mode_valid = !card.mode_unset || card.on_crtc;
    c->mode = c->mode_valid ? mode() : drm_mode_modeinfo {};
    return 0;
}

int create_dumb(drm_mode_create_dumb* d)
{
    if (d->bpp != 32 || !d->width || !d->height || faults.drm_dumb)
        return fail(EINVAL);
    for (int i = 0; i < BUFFERS; ++i)
        if (card.memory[i] < 0) {
            d->pitch = config.line_length >= d->width * 4 ? config.line_length : d->width * 4;
            d->size = uint64_t(d->pitch) * d->height;
            card.memory[i] = memfd_create("vdev-dumb", MFD_CLOEXEC);
            if (card.memory[i] < 0 || ftruncate(card.memory[i], off_t(d->size)) != 0)
                return fail(ENOMEM);
            card.size[i] = d->size;
            d->handle = uint32_t(i + 1);
            return 0;
        }
    return fail(ENOSPC);
}

bool is_buffer(uint32_t handle)
{
    return handle >= 1 && handle <= BUFFERS && card.memory[handle - 1] >= 0;
}

int add_fb(drm_mode_fb_cmd2* f)
{
    if (faults.drm_addfb || !is_buffer(f->handles[0]))
        return fail(EINVAL);
    // virtio-gpu's two: the rest are refused as it refuses them.
    if (f->pixel_format != DRM_FORMAT_XRGB8888 && f->pixel_format != DRM_FORMAT_ARGB8888)
        return fail(ENOENT);
    for (int i = 0; i < BUFFERS; ++i)
        if (!card.fb_handle[i]) {
            card.fb_handle[i] = f->handles[0];
            f->fb_id = FIRST_FB_ID + uint32_t(i);
            return 0;
        }
    return fail(ENOSPC);
}

uint32_t* fb_slot(uint32_t fb_id)
{
    return fb_id >= FIRST_FB_ID && fb_id < FIRST_FB_ID + BUFFERS && card.fb_handle[fb_id - FIRST_FB_ID]
        ? &card.fb_handle[fb_id - FIRST_FB_ID]
        : nullptr;
}

// The screen the CRTC shows, captured as a pan is: the bytes of its buffer
// that a stream of xres * yres pixels reaches.
void capture()
{
    const uint32_t handle = card.on_crtc ? *fb_slot(card.on_crtc) : 0;
    const uint64_t reached = uint64_t(config.xres) * config.yres * 4;
    const uint64_t bytes = !is_buffer(handle) ? 0
        : reached < card.size[handle - 1]     ? reached
                                              : card.size[handle - 1];
    Event e = event(EventKind::pan, Device::drm);
    e.clock_ns = config.clock ? monotonic_ns() : 0;
    e.number = ++card.shows;
    e.length = int64_t(bytes);
    e.xres = config.xres, e.yres = config.yres, e.bits_per_pixel = 32;
    log_event(e);
    if (!config.snapshots || !bytes)
        return;
    int out = static_cast<int>(
        syscall(SYS_openat, AT_FDCWD, config.snapshots, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
    char piece[65536];
    for (uint64_t done = 0; out >= 0 && done < bytes;) {
        ssize_t n = pread(card.memory[handle - 1], piece,
            bytes - done < sizeof piece ? size_t(bytes - done) : sizeof piece, off_t(done));
        if (n <= 0 || syscall(SYS_write, out, piece, size_t(n)) != n)
            break;
        done += uint64_t(n);
    }
    if (out >= 0)
        syscall(SYS_close, out);
}

int set_crtc(const drm_mode_crtc* c)
{
    if (!master())
        return fail(EACCES);
    if (faults.drm_setcrtc || c->crtc_id != CRTC_ID || (c->fb_id && !fb_slot(c->fb_id)))
        return fail(EINVAL);
    card.on_crtc = c->fb_id;
    if (card.on_crtc)
        capture();
    return 0;
}

int dirty(const drm_mode_fb_dirty_cmd* d)
{
    if (!master())
        return fail(EACCES);
    if (faults.drm_dirty || !fb_slot(d->fb_id))
        return fail(EINVAL);
    if (d->fb_id == card.on_crtc)
        capture();
    return 0;
}

int page_flip(const drm_mode_crtc_page_flip* f)
{
    if (!master())
        return fail(EACCES);
    if (f->crtc_id != CRTC_ID || !fb_slot(f->fb_id) || !card.on_crtc)
        return fail(EINVAL);
    card.on_crtc = f->fb_id;
    capture();
    return 0;
}

// CLOSEFB leaves the framebuffer on the CRTC; RMFB takes it off.
int remove_fb(uint32_t fb_id, bool close_only)
{
    if (close_only && card.no_closefb)
        return fail(EINVAL); // a request older kernels do not know
    uint32_t* slot = fb_slot(fb_id);
    if (!slot)
        return fail(ENOENT);
    *slot = 0;
    if (!close_only && card.on_crtc == fb_id)
        card.on_crtc = 0;
    return 0;
}

int destroy_dumb(const drm_mode_destroy_dumb* d)
{
    if (!is_buffer(d->handle))
        return fail(EINVAL);
    close(card.memory[d->handle - 1]);
    card.memory[d->handle - 1] = -1;
    return 0;
}

int get_version(drm_version* v)
{
    const char* name = card.simpledrm ? "simpledrm" : "vdev";
    const size_t length = strlen(name);
    if (v->name && v->name_len)
        memcpy(v->name, name, v->name_len < length ? v->name_len : length);
    v->name_len = length;
    v->date_len = v->desc_len = 0;
    return 0;
}

// One primary plane on the CRTC, listing the one format virtio-gpu's lists.
int get_plane(drm_mode_get_plane* p)
{
    constexpr uint32_t formats[] = { DRM_FORMAT_XRGB8888 };
    if (p->plane_id != PLANE_ID)
        return fail(ENOENT);
    p->crtc_id = card.on_crtc ? CRTC_ID : 0, p->fb_id = card.on_crtc;
    p->possible_crtcs = 1, p->gamma_size = 0;
    if (p->count_format_types >= 1 && p->format_type_ptr)
        memcpy(user_pointer(p->format_type_ptr), formats, sizeof formats);
    p->count_format_types = 1;
    return 0;
}

// The connector's panel orientation (when asked for) and the plane's type.
int get_properties(drm_mode_obj_get_properties* list)
{
    const bool plane = list->obj_id == PLANE_ID && list->obj_type == DRM_MODE_OBJECT_PLANE;
    const bool connector = list->obj_id == CONNECTOR_ID && list->obj_type == DRM_MODE_OBJECT_CONNECTOR;
    if (!plane && !connector)
        return fail(ENOENT);
    const uint32_t count = plane || card.orientation >= 0 ? 1 : 0;
    if (count && list->count_props >= count) {
        const uint32_t id = plane ? TYPE_PROPERTY : ORIENTATION_PROPERTY;
        const uint64_t value = plane ? 1 : uint64_t(card.orientation);
        memcpy(user_pointer(list->props_ptr), &id, sizeof id);
        memcpy(user_pointer(list->prop_values_ptr), &value, sizeof value);
    }
    list->count_props = count;
    return 0;
}

int get_property(drm_mode_get_property* p)
{
    static const char* const types[] = { "Overlay", "Primary", "Cursor" };
    static const char* const orientations[] = { "Normal", "Upside Down", "Left Side Up", "Right Side Up" };
    if (p->prop_id != TYPE_PROPERTY && p->prop_id != ORIENTATION_PROPERTY)
        return fail(ENOENT);
    const bool type = p->prop_id == TYPE_PROPERTY;
    snprintf(p->name, sizeof p->name, "%s", type ? "type" : "panel orientation");
    p->flags = DRM_MODE_PROP_ENUM | DRM_MODE_PROP_IMMUTABLE;
    const uint32_t count = type ? 3 : 4;
    if (p->count_enum_blobs >= count && p->enum_blob_ptr)
        for (uint32_t i = 0; i < count; ++i) {
            drm_mode_property_enum e = { .value = i, .name = {} };
            snprintf(e.name, sizeof e.name, "%s", type ? types[i] : orientations[i]);
            memcpy(static_cast<drm_mode_property_enum*>(user_pointer(p->enum_blob_ptr)) + i, &e, sizeof e);
        }
    p->count_enum_blobs = count, p->count_values = 0;
    return 0;
}

int map_dumb(drm_mode_map_dumb* map)
{
    map->offset = MAP_BASE + (map->handle - 1) * MAP_STEP;
    return is_buffer(map->handle) ? 0 : fail(EINVAL);
}

// Each DRM call the card answers, by its request and its name in the log.
struct Call {
    unsigned long request;
    const char* name;
    int (*answer)(void* arg, Event* e);
};
template <typename Record> Record* as(void* arg)
{
    return static_cast<Record*>(arg);
}
constexpr Call CALLS[] = {
    { .request = DRM_IOCTL_MODE_GETRESOURCES,
        .name = "GETRESOURCES",
        .answer = [](void* a, Event*) { return get_resources(as<drm_mode_card_res>(a)); } },
    { .request = DRM_IOCTL_MODE_GETCONNECTOR,
        .name = "GETCONNECTOR",
        .answer = [](void* a, Event* e) { return get_connector(as<drm_mode_get_connector>(a), e); } },
    { .request = DRM_IOCTL_MODE_GETENCODER,
        .name = "GETENCODER",
        .answer = [](void* a, Event*) { return get_encoder(as<drm_mode_get_encoder>(a)); } },
    { .request = DRM_IOCTL_MODE_GETCRTC,
        .name = "GETCRTC",
        .answer = [](void* a, Event*) { return get_crtc(as<drm_mode_crtc>(a)); } },
    { .request = DRM_IOCTL_SET_MASTER,
        .name = "SET_MASTER",
        .answer = [](void*, Event*) { return master() ? 0 : fail(EINVAL); } },
    { .request = DRM_IOCTL_DROP_MASTER, .name = "DROP_MASTER", .answer = [](void*, Event*) { return 0; } },
    { .request = DRM_IOCTL_MODE_CREATE_DUMB,
        .name = "CREATE_DUMB",
        .answer = [](void* a, Event*) { return create_dumb(as<drm_mode_create_dumb>(a)); } },
    { .request = DRM_IOCTL_MODE_DESTROY_DUMB,
        .name = "DESTROY_DUMB",
        .answer = [](void* a, Event*) { return destroy_dumb(as<const drm_mode_destroy_dumb>(a)); } },
    { .request = DRM_IOCTL_VERSION,
        .name = "VERSION",
        .answer = [](void* a, Event*) { return get_version(as<drm_version>(a)); } },
    { .request = DRM_IOCTL_SET_CLIENT_CAP,
        .name = "SET_CLIENT_CAP",
        .answer = [](void*, Event*) { return 0; } },
    { .request = DRM_IOCTL_MODE_GETPLANERESOURCES,
        .name = "GETPLANERESOURCES",
        .answer =
            [](void* a, Event*) {
                auto* r = as<drm_mode_get_plane_res>(a);
                put_ids(r->plane_id_ptr, &r->count_planes, PLANE_ID);
                return 0;
            } },
    { .request = DRM_IOCTL_MODE_GETPLANE,
        .name = "GETPLANE",
        .answer = [](void* a, Event*) { return get_plane(as<drm_mode_get_plane>(a)); } },
    { .request = DRM_IOCTL_MODE_OBJ_GETPROPERTIES,
        .name = "OBJ_GETPROPERTIES",
        .answer = [](void* a, Event*) { return get_properties(as<drm_mode_obj_get_properties>(a)); } },
    { .request = DRM_IOCTL_MODE_GETPROPERTY,
        .name = "GETPROPERTY",
        .answer = [](void* a, Event*) { return get_property(as<drm_mode_get_property>(a)); } },
    { .request = DRM_IOCTL_MODE_MAP_DUMB,
        .name = "MAP_DUMB",
        .answer = [](void* a, Event*) { return map_dumb(as<drm_mode_map_dumb>(a)); } },
    { .request = DRM_IOCTL_MODE_ADDFB2,
        .name = "ADDFB2",
        .answer = [](void* a, Event*) { return add_fb(as<drm_mode_fb_cmd2>(a)); } },
    { .request = DRM_IOCTL_MODE_SETCRTC,
        .name = "SETCRTC",
        .answer = [](void* a, Event*) { return set_crtc(as<const drm_mode_crtc>(a)); } },
    { .request = DRM_IOCTL_MODE_DIRTYFB,
        .name = "DIRTYFB",
        .answer = [](void* a, Event*) { return dirty(as<const drm_mode_fb_dirty_cmd>(a)); } },
    { .request = DRM_IOCTL_MODE_PAGE_FLIP,
        .name = "PAGE_FLIP",
        .answer = [](void* a, Event*) { return page_flip(as<const drm_mode_crtc_page_flip>(a)); } },
    { .request = DRM_IOCTL_MODE_RMFB,
        .name = "RMFB",
        .answer = [](void* a, Event*) { return remove_fb(*as<const uint32_t>(a), false); } },
    { .request = DRM_IOCTL_MODE_CLOSEFB,
        .name = "CLOSEFB",
        .answer = [](void* a, Event*) { return remove_fb(as<const drm_mode_closefb>(a)->fb_id, true); } },
};

} // namespace

void drm_load()
{
    const char* options = getenv(VDEV_DRM);
    if (!options || !config.xres)
        return;
    card.present = true;
    card.disconnected = has(options, "disconnected"), card.unprobed = has(options, "unprobed");
    card.unbound = has(options, "unbound"), card.mode_unset = has(options, "mode-unset");
    card.other_master = has(options, "other-master"), card.no_closefb = has(options, "no-closefb");
    card.many_modes = has(options, "many-modes"), card.beside_fb = has(options, "beside-fb");
    card.simpledrm = has(options, "simpledrm");
    const char* const orientations[] = { "normal", "upside-down", "left-side-up", "right-side-up" };
    for (int i = 0; i < 4; ++i)
        card.orientation = has(options, orientations[i]) ? i : card.orientation;
    card.identity = memfd_create("vdev-card0", MFD_CLOEXEC);
}

bool drm_replaces_fb()
{
    return card.present && !card.beside_fb;
}

int drm_open(const char* path, int flags)
{
    Event e = event(EventKind::open, Device::drm, -1);
    e.flags = flags;
    snprintf(e.path, sizeof e.path, "%s", path);
    if (!card.present || strcmp(path, "/dev/dri/card0") != 0) {
        log_event(e);
        return fail(ENOENT);
    }
    int fd = fcntl(card.identity, F_DUPFD_CLOEXEC, 0);
    e.rc = fd;
    log_event(e);
    track(fd, Device::drm, path);
    return fd;
}

int drm_ioctl(unsigned long request, void* arg)
{
    Event e = event(EventKind::ioctl, Device::drm);
    e.request = int64_t(request);
    int rc = fail(ENOTTY);
    for (const Call& call : CALLS)
        if (call.request == request) {
            snprintf(e.path, sizeof e.path, "%s", call.name);
            rc = call.answer(arg, &e);
        }
    int error = errno;
    e.rc = rc;
    e.error = rc ? error : 0;
    log_event(e);
    errno = error;
    return rc;
}

void* drm_mmap(size_t len, int prot, int flags, off_t offset)
{
    Event e = event(EventKind::mmap, Device::drm, -1);
    e.length = int64_t(len), e.prot = prot, e.flags = flags, e.offset = offset;
    const uint64_t at = uint64_t(offset);
    const uint64_t handle
        = at >= MAP_BASE && (at - MAP_BASE) % MAP_STEP == 0 ? (at - MAP_BASE) / MAP_STEP + 1 : 0;
    if (faults.drm_mmap || !handle || handle > BUFFERS || !is_buffer(uint32_t(handle))
        || len > card.size[handle - 1]) {
        log_event(e);
        errno = EINVAL;
        return MAP_FAILED;
    }
    void* addr = REAL(mmap)(nullptr, len, prot, flags, card.memory[handle - 1], 0);
    e.rc = addr == MAP_FAILED ? -1 : 0;
    log_event(e);
    if (addr != MAP_FAILED)
        add_mapping({ static_cast<uint8_t*>(addr), len, len, Device::drm });
    return addr;
}

} // namespace vdev
