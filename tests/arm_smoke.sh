#!/bin/sh
# The static ARM player under qemu-arm-static, behind a private /dev that holds
# nothing but a kernel log file: no framebuffer, so one message and exit 0.
set -eu
binary=$(realpath "$1")
emulator=$(command -v qemu-arm-static) || { echo "qemu-arm-static missing: run scripts/setup-debian" >&2; exit 1; }

file_type=$(od -An -tx1 -j16 -N4 "$binary" | tr -d ' ')
[ "$file_type" = "02002800" ] || { echo "not an ARM executable: $file_type" >&2; exit 1; }
if arm-linux-gnueabihf-readelf -lS "$binary" | grep -q -E 'INTERP|DYNAMIC|\.symtab'; then
    echo "$binary is not static and stripped" >&2
    exit 1
fi

# Every byte earns its place, and nothing allocates: both are fixed at link time.
size=$(wc -c < "$binary")
[ "$size" -le 24576 ] || { echo "$binary is $size bytes, over 24 KB" >&2; exit 1; }
if arm-linux-gnueabihf-nm "$binary.debug" | grep -E ' (malloc|calloc|realloc|free|aligned_alloc|posix_memalign)$'; then
    echo "the player links an allocator" >&2
    exit 1
fi

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
' smoke "$emulator" "$binary"
echo "ok: $(wc -c < "$binary") bytes, exit 0, one message"
