#!/bin/sh
# What can be checked of the Android files without an Android build: the
# policy compiles with Debian's checkpolicy against a stand-in for AOSP's
# platform policy, keeps within what the player needs and allows all of it;
# the file contexts name its types and only the vendor partition's files;
# /bootimages links to frames labelled for it; the .rc keeps to init's
# documented grammar, starts what it declares from the path the contexts
# label, keeps the one capability the player needs, and waits on nothing
# vendor_init may not look at.
#   check.sh ANDROID_DIR   (the source's boot/android, or a copy)
set -eu
android=$(realpath "$1")
stubs=$(dirname "$(realpath "$0")")
scratch=$(mktemp -d "${TMPDIR:-/tmp}/pelimora-android-XXXXXX")
trap 'rm -rf "$scratch"' EXIT
fail() { echo "android: $*" >&2; exit 1; }

# The policy, with the rules of the files named appended: 0 when it compiles.
compile() {
    m4 "$stubs/macros.m4" "$stubs/base.te" "$android/sepolicy/pelimora.te" "$stubs/least.te" "$@" \
        "$stubs/tail.te" >"$scratch/policy.conf"
    checkpolicy -M -c 30 -o "$scratch/policy" "$scratch/policy.conf" >"$scratch/log" 2>&1
}
# Whether the policy allows SOURCE TARGET:CLASS PERMISSION: it does when the
# same as a neverallow breaks the compile.
allows() {
    echo "neverallow $1 $2:$3 $4;" >"$scratch/asked.te"
    ! compile "$scratch/asked.te" || return 1
    grep -q "violated" "$scratch/log" || { cat "$scratch/log" >&2; fail "cannot ask the policy about $*"; }
}
# The type a path is labelled with, by our contexts, else the platform's.
type_of() {
    for contexts in "$android/sepolicy/file_contexts" "$stubs/device_contexts"; do
        label=$(selabel_lookup -b file -f "$contexts" -k "$1" 2>/dev/null) &&
            { echo "$label" | cut -d: -f4; return; }
    done
}

compile || { cat "$scratch/log" >&2; fail "the policy does not compile"; }
setfiles -c "$scratch/policy" "$android/sepolicy/file_contexts" >"$scratch/log" 2>&1 ||
    { cat "$scratch/log" >&2; fail "file_contexts names what the policy lacks"; }
grep -v -e '^#' -e '^[[:space:]]*$' "$stubs/needs" | while read -r source target class permission; do
    allows "$source" "$target" "$class" "$permission" || fail "the policy does not allow $source $target:$class $permission"
done

# A vendor's policy labels its own partitions: the root is the system image.
sed -n 's/^\(\/[^[:space:]]*\).*/\1/p' "$android/sepolicy/file_contexts" | while read -r path; do
    case $path in /vendor/* | /odm/*) ;; *) fail "file_contexts labels $path, outside the vendor partition" ;; esac
done
link=$(sed -n 's/^BOARD_ROOT_EXTRA_SYMLINKS *+= *\([^:]*\):\/bootimages$/\1/p' "$android/BoardConfig-pelimora.mk")
[ -n "$link" ] || fail "nothing links /bootimages in BoardConfig-pelimora.mk"
[ "$(type_of "$link/Loop_1.rle")" = bootimages_file ] || fail "/bootimages links to $link, not labelled bootimages_file"

awk -f "$stubs/rc.awk" "$android/pelimora.rc" >"$scratch/rc" || fail "pelimora.rc breaks init's grammar"
# The service's program, labelled as the domain's entry point.
program=$(sed -n 's/^service pelimora //p' "$scratch/rc")
[ "$(type_of "$program")" = pelimora_exec ] || fail "$program is not labelled pelimora_exec"
grep -qx "started pelimora" "$scratch/rc" || fail "nothing starts pelimora"
grep -qx "oneshot pelimora" "$scratch/rc" || fail "pelimora would be restarted"
# KDSETMODE on /dev/tty0, not the service's terminal, needs CAP_SYS_TTY_CONFIG;
# init drops every capability a "capabilities" line does not name.
grep -qx "capabilities pelimora SYS_TTY_CONFIG" "$scratch/rc" ||
    fail "pelimora must keep SYS_TTY_CONFIG and only it (capabilities SYS_TTY_CONFIG)"
# A .rc on the vendor partition runs "wait" in vendor_init.
case $program in /vendor/* | /odm/*)
    sed -n 's/^wait //p' "$scratch/rc" | while read -r path; do
        class=file
        case $path in /dev/*) class=chr_file ;; esac
        type=$(type_of "$path")
        allows vendor_init "$type" "$class" getattr ||
            fail "wait $path runs in vendor_init, which may not stat $type: denied and retried to its timeout"
    done ;;
esac
echo "ok: policy, file contexts, the /bootimages link and pelimora.rc"
