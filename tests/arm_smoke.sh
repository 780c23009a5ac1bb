#!/bin/sh
# A static ARM player, probe and pelimora-kms (ARMv7 or AArch64) under QEMU's
# user-mode emulator, behind a private /dev that holds nothing but a kernel
# log file: no framebuffer, so the player logs one message and exits 0, the
# probe reports the missing screen, logs nothing and exits 1, and with no
# DRM card pelimora-kms logs one message and exits 0.
#   arm_smoke.sh PLAYER PROBE KMS
set -eu
player=$(realpath "$1")
probe=$(realpath "$2")
kms=$(realpath "$3")

# The target from the ELF header (executable, machine), and its limits:
# AArch64's C library formats 128-bit long doubles in software, which costs
# the printf core about 14 KB more. The probe's bundle reader (--pick) costs
# about 4 KB on either, its report's boot part (the command line and the
# console's sysfs) about 4 KB more, and its DRM part (cards, connectors, planes,
# what spoils the splash) about 12 KB more.
case $(od -An -tx1 -j16 -N4 "$player" | tr -d ' ') in
02002800) cross=arm-linux-gnueabihf qemu=qemu-arm-static player_limit=24576 probe_limit=61440 kms_limit=28672 ;;
0200b700) cross=aarch64-linux-gnu qemu=qemu-aarch64-static player_limit=40960 probe_limit=90112 kms_limit=45056 ;;
*) echo "$player: not an ARMv7 or AArch64 executable" >&2; exit 1 ;;
esac
emulator=$(command -v $qemu) || { echo "$qemu missing: run scripts/setup-debian" >&2; exit 1; }

# Static, stripped, no allocator, no larger than its limit, and loadable with
# 4K, 16K and 64K pages (every load segment's address and file offset agree
# modulo 64 KiB): all fixed at link time.
check_binary() {
    binary=$1 limit=$2
    [ "$(od -An -tx1 -j16 -N4 "$binary" | tr -d ' ')" = "$(od -An -tx1 -j16 -N4 "$player" | tr -d ' ')" ] ||
        { echo "$binary: not the player's kind of executable" >&2; exit 1; }
    if $cross-readelf -lS "$binary" | grep -q -E 'INTERP|DYNAMIC|\.symtab'; then
        echo "$binary is not static and stripped" >&2
        exit 1
    fi
    loads=$($cross-readelf -lW "$binary" | awk '$1 == "LOAD" { print $2, $3 }')
    [ -n "$loads" ] || { echo "$binary has no load segment" >&2; exit 1; }
    echo "$loads" | while read -r offset address; do
        [ $(( (address - offset) % 65536 )) = 0 ] ||
            { echo "$binary: load segment at offset $offset, address $address: not aligned for 64K pages" >&2; exit 1; }
    done
    size=$(wc -c < "$binary")
    [ "$size" -le "$limit" ] || { echo "$binary is $size bytes, over $limit" >&2; exit 1; }
    if $cross-nm "$binary.debug" | grep -E ' (malloc|calloc|realloc|free|aligned_alloc|posix_memalign)$'; then
        echo "$binary links an allocator" >&2
        exit 1
    fi
}
check_binary "$player" $player_limit
check_binary "$probe" $probe_limit
check_binary "$kms" $kms_limit

[ "$(id -u)" = 0 ] && ns="unshare -m" || ns="unshare -rm"
$ns sh -eu -c '
    mount --make-rprivate /
    mount -t tmpfs pelimora-dev /dev
    : > /dev/kmsg
    status=0
    "$1" "$2" extra arguments || status=$?
    expected="<3>pelimora: cannot open '\''/dev/graphics/fb0'\''"
    [ "$status" = 0 ] || { echo "exit status $status" >&2; exit 1; }
    [ "$(cat /dev/kmsg)" = "$expected" ] || { echo "kernel log: $(cat /dev/kmsg)" >&2; exit 1; }
    [ "$(wc -c < /dev/kmsg)" = "$(( ${#expected} + 1 ))" ] || { echo "kernel log is not one line" >&2; exit 1; }

    : > /dev/kmsg
    status=0
    "$1" "$3" > /dev/report || status=$?
    [ "$status" = 1 ] || { echo "probe exit status $status" >&2; exit 1; }
    grep -q "\"error\": \"cannot open: No such file or directory\"" /dev/report || { cat /dev/report >&2; exit 1; }
    grep -q "\"kmsg\": \"writable\"" /dev/report || { cat /dev/report >&2; exit 1; }
    [ ! -s /dev/kmsg ] || { echo "the probe wrote to the kernel log" >&2; exit 1; }

    status=0
    "$1" "$4" || status=$?
    expected="<3>pelimora: cannot open '\''/dev/dri/card0'\''"
    [ "$status" = 0 ] || { echo "pelimora-kms exit status $status" >&2; exit 1; }
    [ "$(cat /dev/kmsg)" = "$expected" ] || { echo "pelimora-kms kernel log: $(cat /dev/kmsg)" >&2; exit 1; }
' smoke "$emulator" "$player" "$probe" "$kms"
echo "ok: $cross player $(wc -c < "$player") bytes, exit 0, one message; probe $(wc -c < "$probe") bytes, its report;" \
    "pelimora-kms $(wc -c < "$kms") bytes, exit 0, one message"
