#!/bin/sh
# pelimora-boot on a root of its own (a mount namespace, the host's /usr
# under a scratch root), with stand-ins for the probe's --pick and for the
# player: which frames /bootimages names when the player starts, what the
# kernel log was told, and that a folder at /bootimages is never written into.
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
    run() {
        name=$1 before=$2 pick=$3 played=$4 kmsg=$5
        mkdir -p "$root" && mount -t tmpfs pelimora-root "$root"
        mkdir -p "$root/usr" "$root/dev" "$root/stub" "$root/bootimages.d/a" "$root/bootimages.d/b" "$root/tmp"
        mount --bind -o ro /usr "$root/usr"
        for dir in bin sbin lib lib32 lib64 libx32; do
            if [ -L "/$dir" ]; then ln -s "$(readlink "/$dir")" "$root/$dir"
            elif [ -d "/$dir" ]; then mkdir "$root/$dir" && mount --bind -o ro "/$dir" "$root/$dir"; fi
        done
        : >"$root/dev/kmsg"
        echo "{}" >"$root/bootimages.d/index.json"
        for set in a b; do echo "$set" >"$root/bootimages.d/$set/Loop_1.rle"; done
        case $before in
        link:*) ln -s "/bootimages.d/${before#link:}" "$root/bootimages" ;;
        folder) mkdir "$root/bootimages" && echo folder >"$root/bootimages/Loop_1.rle" ;;
        esac
        cp "$source/boot/pelimora-boot" "$root/stub/pelimora-boot"
        printf "#!/bin/sh\n[ -n \"%s\" ] || exit 1\necho /bootimages.d/%s\n" "$pick" "$pick" >"$root/stub/pelimora-probe"
        printf "#!/bin/sh\ncat /bootimages/Loop_1.rle 2>/dev/null || echo nothing\n" >"$root/stub/pelimora"
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
    run "no /bootimages yet" none a a ""
    run "an older pick" link:b a a ""
    run "no set for this screen" link:b "" nothing ""
    run "a folder of frames" folder a folder "^<3>pelimora-boot: /bootimages is a folder, not a link"
    run "a folder and no set" folder "" folder "^<3>pelimora-boot: /bootimages is a folder, not a link"
' boot-start "$source" "$scratch"
echo "ok: pelimora-boot points /bootimages at the pick, and plays a folder as it is"
