#!/bin/sh
# Installs the build into scratch prefixes (plainly, under a path with a
# space, which LD_PRELOAD cannot carry as it is, and staged with DESTDIR)
# and runs the installed tools with the build and source trees hidden behind
# empty mounts: nothing may lean on a path of the build tree.
#   install_test.sh BUILD_DIR SOURCE_DIR
set -eu
build=$(realpath "$1")
source=$(realpath "$2")
scratch=$(mktemp -d "${TMPDIR:-/tmp}/pelimora-install-XXXXXX")
trap 'rm -rf "$scratch"' EXIT

cmake --install "$build" --prefix "$scratch/with space/usr" >/dev/null
DESTDIR="$scratch/stage" cmake --install "$build" --prefix /opt/pelimora >/dev/null
for prefix in "$scratch/with space/usr" "$scratch/stage/opt/pelimora"; do
    for file in bin/pelimora-frames bin/pelimora-vfb libexec/pelimora/pelimora libexec/pelimora/libvdev.so \
        share/man/man1/pelimora-frames.1 share/man/man1/pelimora-frames-encode.1 share/man/man1/pelimora-vfb.1 \
        share/man/man1/pelimora-probe.1; do
        [ -f "$prefix/$file" ] || { echo "not installed: $prefix/$file" >&2; exit 1; }
    done
done
# The device's start files, each init system's, with the scripts runnable and sound.
boot="$scratch/with space/usr/share/pelimora/boot"
for file in pelimora-boot pelimora-drm-only udev/60-pelimora.rules systemd/pelimora.service mdev/mdev.conf mdev/pelimora-mdev \
    android/pelimora.rc android/pelimora-kms.rc android/BoardConfig-pelimora.mk android/sepolicy/pelimora.te \
    android/sepolicy/pelimora-kms.te android/sepolicy/file_contexts; do
    [ -f "$boot/$file" ] || { echo "not installed: $boot/$file" >&2; exit 1; }
done
for script in pelimora-boot pelimora-drm-only mdev/pelimora-mdev; do
    [ -x "$boot/$script" ] && sh -n "$boot/$script" || { echo "not a runnable script: $boot/$script" >&2; exit 1; }
done
for target in arm:armv7 arm64:aarch64; do
    if [ -f "$build/${target%:*}/pelimora" ]; then
        for program in pelimora pelimora-probe pelimora-kms; do
            cmp "$build/${target%:*}/$program" "$scratch/with space/usr/share/pelimora/${target#*:}/$program"
        done
    fi
done
version=$("$scratch/with space/usr/bin/pelimora-frames" --version)
[ "$version" = "$("$scratch/with space/usr/bin/pelimora-vfb" --version)" ] || { echo "versions differ" >&2; exit 1; }
echo "installed version $version"

[ "$(id -u)" = 0 ] && ns="unshare -m" || ns="unshare -rm"
$ns sh -eu -c '
    mount --make-rprivate /
    for tree in "$1" "$2"; do mount -t tmpfs pelimora-hidden "$tree"; done
    cd "$3"
    for prefix in "with space/usr" stage/opt/pelimora; do
        "$prefix/bin/pelimora-frames" sample --size 64x48 -o art >/dev/null
        "$prefix/bin/pelimora-frames" encode art -o frames --depth 16 >/dev/null 2>&1
        "$prefix/bin/pelimora-vfb" --frames frames -o device > vfb.txt
        grep -q "the screens match the preview" vfb.txt || { cat vfb.txt; exit 1; }
        rm -rf art frames device
    done
' install "$build" "$source" "$scratch"
echo "ok: the installed tools run with the build tree out of the way"
