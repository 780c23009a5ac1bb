#!/bin/sh
# The static ARM player and probe under qemu-arm-static, behind a private /dev
# that holds nothing but a kernel log file: no framebuffer, so the player
# logs one message and exits 0, and the probe reports the missing screen,
# logs nothing and exits 1.
#   arm_smoke.sh PLAYER PROBE
set -eu
player=$(realpath "$1")
probe=$(realpath "$2")
emulator=$(command -v qemu-arm-static) || { echo "qemu-arm-static missing: run scripts/setup-debian" >&2; exit 1; }

# Static, stripped, no allocator, and no larger than its limit: all fixed at link time.
check_binary() {
    binary=$1 limit=$2
    file_type=$(od -An -tx1 -j16 -N4 "$binary" | tr -d ' ')
    [ "$file_type" = "02002800" ] || { echo "$binary: not an ARM executable: $file_type" >&2; exit 1; }
    if arm-linux-gnueabihf-readelf -lS "$binary" | grep -q -E 'INTERP|DYNAMIC|\.symtab'; then
        echo "$binary is not static and stripped" >&2
        exit 1
    fi
    size=$(wc -c < "$binary")
    [ "$size" -le "$limit" ] || { echo "$binary is $size bytes, over $limit" >&2; exit 1; }
    if arm-linux-gnueabihf-nm "$binary.debug" | grep -E ' (malloc|calloc|realloc|free|aligned_alloc|posix_memalign)$'; then
        echo "$binary links an allocator" >&2
        exit 1
    fi
}
check_binary "$player" 24576
check_binary "$probe" 40960

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
' smoke "$emulator" "$player" "$probe"
echo "ok: player $(wc -c < "$player") bytes, exit 0, one message; probe $(wc -c < "$probe") bytes, its report"
