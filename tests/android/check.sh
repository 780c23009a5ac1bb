#!/bin/sh
# What can be checked of the Android files without an Android build: the
# policy compiles with Debian's checkpolicy against a stand-in for AOSP's
# platform policy and keeps within what the player needs, the file contexts
# name types it defines, and the .rc keeps to init's documented grammar and
# starts what it declares, from the path the contexts label.
#   check.sh SOURCE_DIR
set -eu
source=$(realpath "$1")
android=$source/boot/android
stubs=$source/tests/android
scratch=$(mktemp -d "${TMPDIR:-/tmp}/pelimora-android-XXXXXX")
trap 'rm -rf "$scratch"' EXIT

m4 "$stubs/macros.m4" "$stubs/base.te" "$android/sepolicy/pelimora.te" "$stubs/least.te" "$stubs/tail.te" \
    >"$scratch/policy.conf"
checkpolicy -M -c 30 -o "$scratch/policy" "$scratch/policy.conf" >"$scratch/log" 2>&1 ||
    { cat "$scratch/log" >&2; echo "android: the policy does not compile" >&2; exit 1; }
setfiles -c "$scratch/policy" "$android/sepolicy/file_contexts" >"$scratch/log" 2>&1 ||
    { cat "$scratch/log" >&2; echo "android: file_contexts names what the policy lacks" >&2; exit 1; }

awk -f "$stubs/rc.awk" "$android/pelimora.rc" >"$scratch/rc" ||
    { echo "android: pelimora.rc breaks init's grammar" >&2; exit 1; }
# The service's program, labelled as the domain's entry point.
program=$(sed -n 's/^service pelimora //p' "$scratch/rc")
grep -q "^$program[[:space:]]\{1,\}u:object_r:pelimora_exec:s0\$" "$android/sepolicy/file_contexts" ||
    { echo "android: $program is not labelled pelimora_exec" >&2; exit 1; }
grep -qx "started pelimora" "$scratch/rc" || { echo "android: nothing starts pelimora" >&2; exit 1; }
grep -qx "oneshot pelimora" "$scratch/rc" || { echo "android: pelimora would be restarted" >&2; exit 1; }
echo "ok: policy, file contexts and pelimora.rc"
