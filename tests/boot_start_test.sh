#!/bin/sh
# pelimora-boot on a root of its own (a mount namespace, the host's /usr
# under a scratch root), with stand-ins for the probe's --pick and for the
# two programs: which of them runs (the player with a framebuffer,
# pelimora-kms without), which frames /bootimages names when it starts, what
# the kernel log was told, and that a folder at /bootimages is never written
# into. Then pelimora-drm-only's answer for each kernel's parameters.
#   boot_start_test.sh SOURCE_DIR
set -eu
source=$(realpath "$1")
scratch=$(mktemp -d "${TMPDIR:-/tmp}/pelimora-boot-XXXXXX")
trap 'rm -rf "$scratch"' EXIT

[ "$(id -u)" = 0 ] && ns="unshare -m" || ns="unshare -rm"
$ns sh -eu -c '
    mount --make-rprivate /
    source=$1 root=$2/root
    # The cases: NAME, what /bootimages is before (none, link:SET, folder),
    # what --pick answers (a set, or "" with exit 1), and what must follow:
    # the frames played and the kernel log.
    # A scratch root with the host'"'"'s /usr, and the start files in /stub.
    make_root() {
        mkdir -p "$root" && mount -t tmpfs pelimora-root "$root"
        mkdir -p "$root/usr" "$root/dev" "$root/stub" "$root/bootimages.d/a" "$root/bootimages.d/b" "$root/tmp"
        mount --bind -o ro /usr "$root/usr"
        for dir in bin sbin lib lib32 lib64 libx32; do
            if [ -L "/$dir" ]; then ln -s "$(readlink "/$dir")" "$root/$dir"
            elif [ -d "/$dir" ]; then mkdir "$root/$dir" && mount --bind -o ro "/$dir" "$root/$dir"; fi
        done
        cp "$source/boot/pelimora-boot" "$source/boot/pelimora-drm-only" "$root/stub/"
    }
    run() {
        name=$1 before=$2 pick=$3 played=$4 kmsg=$5 display=${6:-fb0}
        make_root
        : >"$root/dev/kmsg"
        case $display in
        fb0) mkdir "$root/dev/graphics" && : >"$root/dev/graphics/fb0" ;;
        card) mkdir "$root/dev/dri" && : >"$root/dev/dri/card0" ;;
        esac
        echo "{}" >"$root/bootimages.d/index.json"
        for set in a b; do echo "$set" >"$root/bootimages.d/$set/Loop_1.rle"; done
        case $before in
        link:*) ln -s "/bootimages.d/${before#link:}" "$root/bootimages" ;;
        folder) mkdir "$root/bootimages" && echo folder >"$root/bootimages/Loop_1.rle" ;;
        esac
        printf "#!/bin/sh\n[ -n \"%s\" ] || exit 1\necho /bootimages.d/%s\n" "$pick" "$pick" >"$root/stub/pelimora-probe"
        for program in pelimora pelimora-kms; do
            printf "#!/bin/sh\necho %s: \$(cat /bootimages/Loop_1.rle 2>/dev/null || echo nothing)\n" "$program" \
                >"$root/stub/$program"
        done
        chmod +x "$root/stub/"*
        ls -A "$root/bootimages/" >"$root/tmp/folder-before" 2>/dev/null || true
        got=$(chroot "$root" /usr/bin/env PATH=/stub:/usr/bin:/bin /stub/pelimora-boot 2>/dev/null) || got="exit status $?"
        [ "$got" = "$played" ] || { echo "$name: played \"$got\", not \"$played\"" >&2; exit 1; }
        log=$(cat "$root/dev/kmsg")
        case $kmsg in
        "") [ -z "$log" ] || { echo "$name: the kernel log was told \"$log\"" >&2; exit 1; } ;;
        *) [ "$(printf "%s\n" "$log" | wc -l)" = 1 ] && printf "%s" "$log" | grep -q "$kmsg" ||
            { echo "$name: the kernel log was told \"$log\", not one line with \"$kmsg\"" >&2; exit 1; } ;;
        esac
        if [ "$before" = folder ]; then
            ls -A "$root/bootimages/" | cmp -s - "$root/tmp/folder-before" ||
                { echo "$name: the folder /bootimages was written into: $(ls -A "$root/bootimages/")" >&2; exit 1; }
        fi
        umount -R "$root"
    }
    folder="^<3>pelimora-boot: /bootimages is a folder, not a link"
    run "no /bootimages yet" none a "pelimora: a" ""
    run "an older pick" link:b a "pelimora: a" ""
    run "no set for this screen" link:b "" "pelimora: nothing" ""
    run "a folder of frames" folder a "pelimora: folder" "$folder"
    run "a folder and no set" folder "" "pelimora: folder" "$folder"
    run "a DRM card alone" link:b a "pelimora-kms: a" "" card
    run "no display yet" link:b a "pelimora: a" "" none

    # drm_only NAME WANTED FILE=VALUE...: the parameters under /sys/module;
    # the card card0, bound to the platform driver $driver when it is set.
    drm_only() {
        name=$1 wanted=$2
        shift 2
        make_root
        for parameter in "$@"; do
            mkdir -p "$root/sys/module/$(dirname "${parameter%%=*}")"
            echo "${parameter#*=}" >"$root/sys/module/${parameter%%=*}"
        done
        if [ -n "${driver:-}" ]; then
            mkdir -p "$root/sys/bus/platform/drivers/$driver" "$root/sys/class/drm/card0/device"
            ln -s "../../../../bus/platform/drivers/$driver" "$root/sys/class/drm/card0/device/driver"
        fi
        status=0
        chroot "$root" /stub/pelimora-drm-only card0 || status=$?
        [ "$status" = "$wanted" ] || { echo "pelimora-drm-only, $name: exit status $status, not $wanted" >&2; exit 1; }
        umount -R "$root"
    }
    emulation=drm_kms_helper/parameters/fbdev_emulation client=drm_client_lib/parameters/active
    drm_only "no emulation in the kernel" 0
    drm_only "emulation on" 1 "$emulation=Y"
    drm_only "emulation off" 0 "$emulation=N"
    drm_only "the fbdev client" 1 "$client=fbdev"
    drm_only "the fbdev client, emulation on" 1 "$client=fbdev" "$emulation=Y"
    drm_only "the log client" 0 "$client=log" "$emulation=Y"
    # A hand-over card is passed over, whatever the emulation; a real one is not.
    for driver in simple-framebuffer efi-framebuffer vesa-framebuffer of-display; do
        drm_only "a hand-over card ($driver)" 1 "$emulation=N"
    done
    driver=virtio_gpu drm_only "a real card" 0 "$emulation=N"
' boot-start "$source" "$scratch"
echo "ok: pelimora-boot starts the program for the display, points /bootimages at the pick, plays a folder as it is"
