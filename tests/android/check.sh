#!/bin/sh
# What can be checked of the Android files without an Android build: the
# policy compiles with Debian's checkpolicy against a stand-in for AOSP's
# platform policy, keeps within what each program needs and allows all of
# it, down to the labels of the nodes it opens; the file contexts name its
# types and only the vendor's own files; /bootimages links to frames
# labelled for them; each .rc keeps to init's documented grammar, starts
# what it declares from the path the contexts label, keeps exactly the
# capabilities its program needs, and waits on nothing vendor_init may not
# look at.
#   check.sh ANDROID_DIR   (the source's boot/android, or a copy)
set -eu
android=$(realpath "$1")
stubs=$(dirname "$(realpath "$0")")
scratch=$(mktemp -d "${TMPDIR:-/tmp}/pelimora-android-XXXXXX")
trap 'rm -rf "$scratch"' EXIT
fail() { echo "android: $*" >&2; exit 1; }

# The policy, with the rules of the files named appended: 0 when it compiles.
compile() {
    m4 "$stubs/macros.m4" "$stubs/base.te" "$android"/sepolicy/*.te "$stubs/least.te" "$@" \
        "$stubs/tail.te" >"$scratch/policy.conf"
    checkpolicy -M -c 30 -o "$scratch/policy" "$scratch/policy.conf" >"$scratch/log" 2>&1
}
# The type a path is labelled with, by our contexts, else the platform's.
type_of() {
    for contexts in "$android/sepolicy/file_contexts" "$stubs/device_contexts"; do
        label=$(selabel_lookup -b file -f "$contexts" -k "$1" 2>/dev/null) &&
            { echo "$label" | cut -d: -f4; return; }
    done
}
# Whether the policy allows DOMAIN TARGET:CLASS PERMISSION (a TARGET path
# standing for its type): it does when the same as a neverallow breaks the
# compile.
allows() {
    asked=$2
    case $asked in /*) asked=$(type_of "$2") ;; esac
    echo "neverallow $1 ${asked:-unlabelled}:$3 $4;" >"$scratch/asked.te"
    ! compile "$scratch/asked.te" || return 1
    grep -q "violated" "$scratch/log" || { cat "$scratch/log" >&2; fail "cannot ask the policy about $*"; }
}

compile || { cat "$scratch/log" >&2; fail "the policy does not compile"; }
setfiles -c "$scratch/policy" "$android/sepolicy/file_contexts" >"$scratch/log" 2>&1 ||
    { cat "$scratch/log" >&2; fail "file_contexts names what the policy lacks"; }

# A vendor's policy labels its own partitions and its devices: the root is
# the system image.
sed -n 's/^\(\/[^[:space:]]*\).*/\1/p' "$android/sepolicy/file_contexts" | while read -r path; do
    case $path in /vendor/* | /odm/* | /dev/*) ;; *) fail "file_contexts labels $path, outside the vendor partition" ;; esac
done
link=$(sed -n 's/^BOARD_ROOT_EXTRA_SYMLINKS *+= *\([^:]*\):\/bootimages$/\1/p' "$android/BoardConfig-pelimora.mk")
[ -n "$link" ] || fail "nothing links /bootimages in BoardConfig-pelimora.mk"
[ "$(type_of "$link/Loop_1.rle")" = bootimages_file ] || fail "/bootimages links to $link, not labelled bootimages_file"

grep -v -e '^#' -e '^[[:space:]]*$' "$stubs/needs" | while read -r domain target class permission; do
    allows "$domain" "$target" "$class" "$permission" ||
        fail "the policy does not allow $domain $target:$class $permission"
done

# service NAME DOMAIN RC [CAPABILITY...]: one program's .rc.
service() {
    name=$1 domain=$2 rc=$3
    shift 3
    awk -f "$stubs/rc.awk" "$android/$rc" >"$scratch/rc" || fail "$rc breaks init's grammar"
    # The service's program, labelled as the domain's entry point.
    program=$(sed -n "s/^service $name //p" "$scratch/rc")
    [ "$(type_of "$program")" = "${domain}_exec" ] || fail "$program is not labelled ${domain}_exec"
    grep -qx "started $name" "$scratch/rc" || fail "nothing starts $name"
    grep -qx "oneshot $name" "$scratch/rc" || fail "$name would be restarted"
    # init drops every capability a "capabilities" line does not name, and
    # a root service without the line keeps them all.
    grep -qx "capabilities $name${*:+ $*}" "$scratch/rc" ||
        fail "$name must keep ${*:-no capability}${*:+ and only it} (capabilities${*:+ $*})"
    # A .rc on the vendor partition runs "wait" in vendor_init.
    case $program in /vendor/* | /odm/*)
        sed -n 's/^wait //p' "$scratch/rc" | while read -r path; do
            class=file
            case $path in /dev/*) class=chr_file ;; esac
            allows vendor_init "$path" "$class" getattr ||
                fail "wait $path runs in vendor_init, which may not stat $(type_of "$path"): denied and retried to its timeout"
        done ;;
    esac
}
# KDSETMODE on /dev/tty0, not the player's own terminal, needs CAP_SYS_TTY_CONFIG.
service pelimora pelimora pelimora.rc SYS_TTY_CONFIG
service pelimora-kms pelimora_kms pelimora-kms.rc
echo "ok: policy, file contexts, the /bootimages link, pelimora.rc and pelimora-kms.rc"
