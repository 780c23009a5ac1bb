#include "probe/kms_view.h"

#include "core/devices.h"
#include "core/drm_closefb.h"
#include "probe/boot_view.h"

#include <drm/drm.h>
#include <drm/drm_fourcc.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

namespace {

constexpr int MAX_PROPERTIES = 64, MAX_ENUM_VALUES = 16, MAX_PLANES = 32;
constexpr uint64_t PRIMARY_PLANE = 1; // DRM_PLANE_TYPE_PRIMARY

ConnectorState connector_state;

// The object's property `name`: its value, and the value's name when the
// property is an enum ("" otherwise).
bool read_property(int fd, uint32_t object, uint32_t type, const char* name, uint64_t* value,
    char (&text)[DRM_PROP_NAME_LEN + 1])
{
    uint32_t ids[MAX_PROPERTIES];
    uint64_t values[MAX_PROPERTIES];
    drm_mode_obj_get_properties list = { .props_ptr = address(ids),
        .prop_values_ptr = address(values),
        .count_props = MAX_PROPERTIES,
        .obj_id = object,
        .obj_type = type };
    if (drm_call(fd, DRM_IOCTL_MODE_OBJ_GETPROPERTIES, &list) != 0 || list.count_props > MAX_PROPERTIES)
        return false;
    for (uint32_t i = 0; i < list.count_props; ++i) {
        drm_mode_property_enum names[MAX_ENUM_VALUES];
        drm_mode_get_property property
            = { .enum_blob_ptr = address(names), .prop_id = ids[i], .count_enum_blobs = MAX_ENUM_VALUES };
        if (drm_call(fd, DRM_IOCTL_MODE_GETPROPERTY, &property) != 0 || strncmp(property.name, name, 32) != 0)
            continue;
        *value = values[i];
        text[0] = '\0';
        if (property.flags & DRM_MODE_PROP_ENUM && property.count_enum_blobs <= MAX_ENUM_VALUES)
            for (uint32_t e = 0; e < property.count_enum_blobs; ++e)
                if (names[e].value == values[i])
                    snprintf(text, sizeof text, "%.*s", int(sizeof names[e].name), names[e].name);
        return true;
    }
    return false;
}

void read_connectors(int fd, const CardObjects& objects, ProbedCard* card)
{
    for (uint32_t i = 0; i < objects.connector_count && card->connector_count < MAX_PROBED_CONNECTORS; ++i) {
        if (!read_connector(fd, objects.connectors[i], &connector_state, false))
            continue;
        const drm_mode_get_connector& info = connector_state.info;
        ProbedConnector& c = card->connectors[card->connector_count++];
        c = { .id = info.connector_id,
            .type = info.connector_type,
            .type_id = info.connector_type_id,
            .status = info.connection,
            .mode_count = info.count_modes };
        for (uint32_t m = 0; m < info.count_modes; ++m) {
            const drm_mode_modeinfo& mode = connector_state.modes[m];
            c.modes[m] = { .width = mode.hdisplay,
                .height = mode.vdisplay,
                .refresh = mode.vrefresh,
                .preferred = (mode.type & DRM_MODE_TYPE_PREFERRED) != 0 };
        }
        uint64_t value = 0;
        char name[DRM_PROP_NAME_LEN + 1] = "";
        if (read_property(fd, c.id, DRM_MODE_OBJECT_CONNECTOR, "panel orientation", &value, name))
            snprintf(c.orientation, sizeof c.orientation, "%s", name);
    }
}

// The formats of the primary plane that can show on `crtc_index`.
void read_primary_formats(int fd, uint32_t crtc_index, ProbedCard* card)
{
    card->format_count = -1;
    drm_set_client_cap planes = { .capability = DRM_CLIENT_CAP_UNIVERSAL_PLANES, .value = 1 };
    uint32_t ids[MAX_PLANES];
    drm_mode_get_plane_res resources = { .plane_id_ptr = address(ids), .count_planes = MAX_PLANES };
    if (drm_call(fd, DRM_IOCTL_SET_CLIENT_CAP, &planes) != 0
        || drm_call(fd, DRM_IOCTL_MODE_GETPLANERESOURCES, &resources) != 0
        || resources.count_planes > MAX_PLANES)
        return;
    for (uint32_t i = 0; i < resources.count_planes; ++i) {
        drm_mode_get_plane plane = { .plane_id = ids[i],
            .count_format_types = MAX_PROBED_FORMATS,
            .format_type_ptr = address(card->formats) };
        uint64_t type = 0;
        char name[DRM_PROP_NAME_LEN + 1];
        if (drm_call(fd, DRM_IOCTL_MODE_GETPLANE, &plane) != 0 || !(plane.possible_crtcs & (1u << crtc_index))
            || plane.count_format_types > MAX_PROBED_FORMATS
            || !read_property(fd, ids[i], DRM_MODE_OBJECT_PLANE, "type", &type, name)
            || type != PRIMARY_PLANE)
            continue;
        card->format_count = int(plane.count_format_types);
        return;
    }
}

// The pitch the driver gives a buffer of the mode: made, then destroyed.
uint32_t dumb_pitch(int fd, const drm_mode_modeinfo& mode)
{
    drm_mode_create_dumb dumb = { .height = mode.vdisplay, .width = mode.hdisplay, .bpp = 32 };
    if (drm_call(fd, DRM_IOCTL_MODE_CREATE_DUMB, &dumb) != 0)
        return 0;
    drm_mode_destroy_dumb destroy = { .handle = dumb.handle };
    (void)drm_call(fd, DRM_IOCTL_MODE_DESTROY_DUMB, &destroy);
    return dumb.pitch;
}

// CLOSEFB of no framebuffer: a kernel that has the call finds none (ENOENT);
// one without it knows no such request (EINVAL).
int has_closefb(int fd)
{
    drm_mode_closefb closefb = { .fb_id = 0, .pad = 0 };
    if (drm_call(fd, DRM_IOCTL_MODE_CLOSEFB, &closefb) == 0)
        return -1;
    return errno == ENOENT ? 1 : errno == EINVAL ? 0 : -1;
}

void read_driver(int fd, ProbedCard* card)
{
    drm_version version = { .name_len = sizeof card->driver - 1, .name = card->driver };
    if (drm_call(fd, DRM_IOCTL_VERSION, &version) != 0)
        card->driver[0] = '\0';
    else
        card->driver[version.name_len < sizeof card->driver ? version.name_len : sizeof card->driver - 1]
            = '\0';
}

void probe_card_file(int fd, ProbedCard* card)
{
    read_driver(fd, card);
    // Opened when nobody held the card, this file is already its master;
    // asking again changes nothing, and fails when another program holds it.
    card->held = drm_call(fd, DRM_IOCTL_SET_MASTER, nullptr) != 0;
    card->format_count = -1;
    card->closefb = has_closefb(fd);
    static CardObjects objects;
    if (!read_card_objects(fd, &objects))
        return;
    read_connectors(fd, objects, card);
    card->found = find_target(fd, objects, false, &card->target);
    if (!card->found)
        return;
    card->pitch = dumb_pitch(fd, card->target.mode);
    for (uint32_t c = 0; c < objects.crtc_count; ++c)
        if (objects.crtcs[c] == card->target.crtc_id)
            read_primary_formats(fd, c, card);
}

// A DRM driver's emulated framebuffer is named "<driver>drmfb".
void read_emulated_fb(KmsView* view)
{
    char list[512];
    if (!read_text("/proc/fb", list, sizeof list))
        return;
    for (char* line = list; *line;) {
        char* end = line + strcspn(line, "\n");
        const bool last = !*end;
        *end = '\0';
        const char* name = strchr(line, ' ');
        size_t length = name ? strlen(++name) : 0;
        if (length >= 5 && !strcmp(name + length - 5, "drmfb")) {
            snprintf(
                view->emulated_fb, sizeof view->emulated_fb, "%.*s", int(sizeof view->emulated_fb - 1), name);
            return;
        }
        line = last ? end : end + 1;
    }
}

} // namespace

bool KmsView::fbdev_emulation() const
{
    if (emulated_fb[0])
        return true;
    // As the start files judge it: the client the kernel starts (6.14+),
    // else the emulation's own switch; neither means none was built.
    return client[0] ? !strcmp(client, "fbdev") : !strcmp(emulation, "Y");
}

void probe_kms(KmsView* view)
{
    for (int n = 0; n < DRI_CARD_COUNT && view->card_count < MAX_PROBED_CARDS; ++n) {
        ProbedCard& card = view->cards[view->card_count];
        card = {};
        snprintf(card.path, sizeof card.path, DRI_CARD_PATH_FORMAT, n);
        int fd = open(card.path, O_RDWR | O_CLOEXEC);
        if (fd < 0)
            continue;
        probe_card_file(fd, &card);
        (void)close(fd);
        ++view->card_count;
    }
    // pelimora-kms passes over a card another program holds; when every
    // display is held, the first is still described.
    for (int pass = 0; pass < 2 && view->chosen < 0; ++pass)
        for (int i = 0; i < view->card_count && view->chosen < 0; ++i)
            if (view->cards[i].found && (pass == 1 || !view->cards[i].held))
                view->chosen = i;
    (void)read_text("/sys/module/drm_client_lib/parameters/active", view->client, sizeof view->client);
    (void)read_text(
        "/sys/module/drm_kms_helper/parameters/fbdev_emulation", view->emulation, sizeof view->emulation);
    read_emulated_fb(view);
}

int orientation_turn(const char* orientation)
{
    // The console's turn for each (fbcon's rotate hint from the DRM helpers).
    return !strcmp(orientation, "Upside Down")  ? 180
        : !strcmp(orientation, "Left Side Up")  ? 270
        : !strcmp(orientation, "Right Side Up") ? 90
                                                : 0;
}

namespace {

bool scans_out_xrgb8888(const ProbedCard& card)
{
    if (card.format_count < 0)
        return true; // not known: not reported
    for (int i = 0; i < card.format_count; ++i)
        if (card.formats[i] == DRM_FORMAT_XRGB8888)
            return true;
    return false;
}

const ProbedConnector* target_connector(const ProbedCard& card)
{
    for (int i = 0; i < card.connector_count; ++i)
        if (card.connectors[i].id == card.target.connector_id)
            return &card.connectors[i];
    return nullptr;
}

// What spoils pelimora-kms's display, a line each.
void display_advice(const KmsView& view, const ProbedCard& card, Advice* advice)
{
    const drm_mode_modeinfo& mode = card.target.mode;
    if (card.held)
        advice->add(
            "another program (a compositor) holds %s: pelimora-kms draws nothing while it does", card.path);
    if (is_handover(card.driver))
        advice->add("%s is a hand-over DRM driver (\"%s\", keeping the bootloader's picture): the real "
                    "display driver replaces it during the boot and an animation on it vanishes",
            card.path, card.driver);
    if (!scans_out_xrgb8888(card))
        advice->add(
            "the primary plane of %s does not scan out XRGB8888: pelimora-kms cannot show frames", card.path);
    if (card.pitch && card.pitch != uint32_t(mode.hdisplay) * 4)
        advice->add("a buffer's pitch is %u, not %u x 4: make frames with --line-length %u", card.pitch,
            mode.hdisplay, card.pitch);
    const ProbedConnector* connector = target_connector(card);
    if (int turn = connector ? orientation_turn(connector->orientation) : 0)
        advice->add("the panel is mounted turned (\"%s\"): make the frames with encode --rotate %d to show "
                    "upright",
            connector->orientation, turn);
    if (card.closefb == 0)
        advice->add("this kernel has no CLOSEFB (before Linux 6.8): the display goes dark when pelimora-kms "
                    "exits, until the next program sets it");
    if (view.fbdev_emulation())
        advice->add(
            "the kernel's fbdev emulation is on (%s) but gives no framebuffer device (CONFIG_FB_DEVICE "
            "is off): its console repaints the display when pelimora-kms exits, and the start files "
            "wait for a /dev/fb0 that never comes; boot with drm_kms_helper.fbdev_emulation=0",
            view.emulated_fb[0] ? view.emulated_fb : "its switch is on");
    else if (!strcmp(view.client, "log"))
        advice->add("the kernel's log client (drm_client_lib.active=log) draws the kernel's messages on the "
                    "display whenever no program holds it, before pelimora-kms starts and after it exits");
}

} // namespace

void kms_advice(const KmsView& view, bool framebuffer, Advice* advice)
{
    if (framebuffer || !view.card_count)
        return; // the player's screen, or no DRM either: said elsewhere
    const ProbedCard* card = view.chosen_card();
    if (!card) {
        const ProbedCard& first = view.cards[0];
        bool unprobed = first.connector_count && first.connectors[0].status == CONNECTOR_UNKNOWN;
        if (first.held)
            advice->add("no framebuffer, and another program (a compositor) holds %s: pelimora-kms draws "
                        "nothing while it does, and only it could probe the displays the report lacks",
                first.path);
        else
            advice->add(unprobed
                    ? "no framebuffer, and the kernel has not yet probed the displays of %s: "
                      "pelimora-kms probes them once and draws on the first connected one"
                    : "no framebuffer, and no connected display on %s: pelimora-kms draws nothing",
                first.path);
        return;
    }
    advice->add(
        "no framebuffer, but a DRM display on %s (%ux%u): install pelimora-kms, which the start files "
        "run on such a kernel",
        card->path, card->target.mode.hdisplay, card->target.mode.vdisplay);
    display_advice(view, *card, advice);
}

namespace {

// The kernel's names of connector types, by DRM_MODE_CONNECTOR_*.
constexpr const char* CONNECTOR_TYPES[]
    = { "Unknown", "VGA", "DVI-I", "DVI-D", "DVI-A", "Composite", "SVIDEO", "LVDS", "Component", "DIN", "DP",
          "HDMI-A", "HDMI-B", "TV", "eDP", "Virtual", "DSI", "DPI", "Writeback", "SPI", "USB" };
constexpr const char* CONNECTION[] = { "unknown", "connected", "disconnected", "unknown" };

void print_string_or_null(const char* text)
{
    if (text[0])
        print_json_string(text);
    else
        printf("null");
}

void print_mode(const ProbedMode& m)
{
    printf("\"%ux%u@%u\"", m.width, m.height, m.refresh);
}

void print_connector(const ProbedConnector& c, bool last)
{
    const char* type
        = c.type < sizeof CONNECTOR_TYPES / sizeof *CONNECTOR_TYPES ? CONNECTOR_TYPES[c.type] : "Unknown";
    printf("          {\"id\": %u, \"name\": \"%s-%u\", \"status\": \"%s\", \"orientation\": ", c.id, type,
        c.type_id, CONNECTION[c.status < 4 ? c.status : 0]);
    print_string_or_null(c.orientation);
    printf(", \"modes\": [");
    const ProbedMode* preferred = nullptr;
    for (uint32_t m = 0; m < c.mode_count; ++m) {
        printf(m ? ", " : "");
        print_mode(c.modes[m]);
        preferred = !preferred && c.modes[m].preferred ? &c.modes[m] : preferred;
    }
    printf("], \"preferred\": ");
    if (preferred)
        print_mode(*preferred);
    else
        printf("null");
    printf("}%s\n", last ? "" : ",");
}

// The display pelimora-kms would draw on, on this card.
void print_display(const ProbedCard& card)
{
    const drm_mode_modeinfo& mode = card.target.mode;
    printf("        \"display\": {\"connector\": %u, \"crtc\": %u, \"mode\": ", card.target.connector_id,
        card.target.crtc_id);
    print_mode(
        { .width = mode.hdisplay, .height = mode.vdisplay, .refresh = mode.vrefresh, .preferred = false });
    printf(", \"pitch\": %u, \"formats\": ", card.pitch);
    if (card.format_count < 0)
        printf("null");
    for (int i = 0; i < card.format_count; ++i) {
        char code[5];
        for (int b = 0; b < 4; ++b) {
            char c = char(card.formats[i] >> (8 * b));
            code[b] = c >= ' ' && c <= '~' ? c : '?';
        }
        code[4] = '\0';
        printf(i ? ", " : "[");
        print_json_string(code);
    }
    printf(card.format_count > 0 ? "]}\n" : card.format_count == 0 ? "[]}\n" : "}\n");
}

void print_card(const ProbedCard& card, bool last)
{
    printf("      {\n        \"path\": ");
    print_json_string(card.path);
    printf(",\n        \"driver\": ");
    print_string_or_null(card.driver);
    printf(",\n        \"held\": %s,\n        \"closefb\": %s,\n        \"connectors\": [\n",
        card.held ? "true" : "false",
        card.closefb < 0   ? "null"
            : card.closefb ? "true"
                           : "false");
    for (int i = 0; i < card.connector_count; ++i)
        print_connector(card.connectors[i], i + 1 == card.connector_count);
    printf("        ],\n");
    if (card.found)
        print_display(card);
    else
        printf("        \"display\": null\n");
    printf("      }%s\n", last ? "" : ",");
}

} // namespace

void print_kms_view(const KmsView& view, bool vt)
{
    printf("  \"drm\": {\n    \"cards\": [%s", view.card_count ? "\n" : "");
    for (int i = 0; i < view.card_count; ++i)
        print_card(view.cards[i], i + 1 == view.card_count);
    printf("%s],\n    \"fbdev_emulation\": %s,\n    \"emulated_fb\": ", view.card_count ? "    " : "",
        view.fbdev_emulation() ? "true" : "false");
    print_string_or_null(view.emulated_fb);
    printf(",\n    \"client\": ");
    print_string_or_null(view.client);
    printf(",\n    \"vt\": %s\n  },\n", vt ? "true" : "false");
}

bool kms_draws(const KmsView& view)
{
    const ProbedCard* card = view.chosen_card();
    return card && !card->held && card->pitch && scans_out_xrgb8888(*card);
}
