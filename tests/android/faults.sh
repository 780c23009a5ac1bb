#!/bin/sh
# The Android check judged on copies of the files with one fault each, as
# they were or as an integrator might write them: each must fail it, saying
# why.
#   faults.sh ANDROID_DIR
set -eu
android=$(realpath "$1")
stubs=$(dirname "$(realpath "$0")")
scratch=$(mktemp -d "${TMPDIR:-/tmp}/pelimora-android-faults-XXXXXX")
trap 'rm -rf "$scratch"' EXIT

# fault NAME FILE SED-SCRIPT MESSAGE: FILE of the copy edited by SED-SCRIPT.
fault() {
    rm -rf "$scratch/android" && cp -R "$android" "$scratch/android"
    sed -i "$3" "$scratch/android/$2"
    cmp -s "$android/$2" "$scratch/android/$2" && { echo "$1: the edit changed nothing" >&2; exit 1; }
    if sh "$stubs/check.sh" "$scratch/android" >/dev/null 2>"$scratch/said"; then
        echo "$1: passed the check" >&2; exit 1
    fi
    grep -qF "$4" "$scratch/said" || { echo "$1: the check said: $(cat "$scratch/said")" >&2; exit 1; }
}
fault "a wait in vendor_init" pelimora.rc 's|^on init$|&\n    wait /dev/graphics/fb0 3|' \
    "wait /dev/graphics/fb0 runs in vendor_init"
fault "no capability kept" pelimora.rc 's|capabilities SYS_TTY_CONFIG|capabilities|' "must keep SYS_TTY_CONFIG"
fault "every capability kept" pelimora.rc '/capabilities SYS_TTY_CONFIG/d' "must keep SYS_TTY_CONFIG"
fault "no rule for the capability" sepolicy/pelimora.te '/self:capability sys_tty_config/d' \
    "does not allow pelimora self:capability sys_tty_config"
fault "a capability too many" sepolicy/pelimora.te 's|self:capability sys_tty_config|self:capability { sys_tty_config sys_admin }|' \
    "the policy does not compile"
fault "frames in the root" sepolicy/file_contexts 's|^/vendor/etc/bootimages|/bootimages|' \
    "file_contexts labels /bootimages(/.*)?, outside the vendor partition"
fault "no link to the frames" BoardConfig-pelimora.mk '/BOARD_ROOT_EXTRA_SYMLINKS/d' "nothing links /bootimages"
fault "a link to unlabelled frames" BoardConfig-pelimora.mk 's|/vendor/etc/bootimages:|/vendor/bootimages:|' \
    "not labelled bootimages_file"
fault "pelimora-kms with a capability" pelimora-kms.rc 's|^    capabilities$|    capabilities SYS_ADMIN|' \
    "pelimora-kms must keep no capability"
fault "pelimora-kms keeping root's capabilities" pelimora-kms.rc '/^    capabilities$/d' "pelimora-kms must keep no capability"
fault "the DRM card left unlabelled" sepolicy/file_contexts '/^\/dev\/dri/d' \
    "does not allow pelimora_kms /dev/dri:dir search"
echo "ok: each fault fails the Android check"
