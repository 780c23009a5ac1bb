# init's .rc grammar as its README documents it: sections "on TRIGGER",
# "service NAME PATH [ARGS]" and "import PATH", each followed by indented
# commands (actions) or options (services) of known names and arity.
# Prints "service NAME PATH", "started NAME", "oneshot NAME",
# "capabilities NAME [CAPABILITY...]" and "wait PATH" for the checks that
# follow; exits 1 at the first fault, naming the line.
function fail(why) { printf "pelimora.rc:%d: %s\n", NR, why > "/dev/stderr"; bad = 1; exit 1 }
BEGIN {
    split("bootchart chmod chown class_start class_stop class_reset class_restart copy domainname enable " \
          "exec exec_background exec_start export hostname ifup insmod interface_start interface_stop " \
          "interface_restart load_exports load_system_props loglevel mark_post_data mkdir mount_all mount " \
          "restart restorecon restorecon_recursive rm rmdir setprop setrlimit start stop swapon_all symlink " \
          "sysclktz trigger umount umount_all wait wait_for_prop write", list, " ")
    for (i in list) command[list[i]] = 1
    split("capabilities class console critical disabled enter_namespace file group interface ioprio " \
          "keycodes namespace oneshot onrestart oom_score_adjust override priority reboot_on_failure " \
          "restart_period rlimit seclabel setenv shutdown sigstop socket stdio_to_kmsg task_profiles " \
          "timeout_period updatable user writepid", list, " ")
    for (i in list) option[list[i]] = 1
}
/^[[:space:]]*(#|$)/ { next }
/^[^[:space:]]/ {
    section = $1
    if (section == "on") { if (NF < 2) fail("a trigger is missing") }
    else if (section == "service") {
        if (NF < 3 || $2 !~ /^[A-Za-z0-9_.-]+$/ || $3 !~ /^\//) fail("service NAME /PATH [ARGS]")
        if ($2 in declared) fail("service " $2 " declared twice")
        declared[$2] = 1; service = $2; print "service " $2 " " $3
    } else if (section == "import") { if (NF != 2) fail("import PATH") }
    else fail("unknown section " section)
    next
}
{
    if (section == "on") {
        if (!($1 in command)) fail("unknown command " $1)
        if ($1 == "wait" && (NF < 2 || NF > 3 || (NF == 3 && $3 !~ /^[0-9]+$/))) fail("wait PATH [SECONDS]")
        if ($1 == "start") { if (NF != 2) fail("start NAME"); started[$2] = 1 }
        if ($1 == "wait") print "wait " $2
    } else if (section == "service") {
        if (!($1 in option) && $1 !~ /^memcg\./) fail("unknown service option " $1)
        if (($1 == "oneshot" || $1 == "disabled") && NF != 1) fail($1 " takes nothing")
        if (($1 == "user" || $1 == "seclabel") && NF != 2) fail($1 " takes one value")
        if ($1 == "oneshot") print "oneshot " service
        if ($1 == "capabilities") { $1 = ""; print "capabilities " service $0 }
    } else fail("a command outside any section")
}
END {
    if (bad) exit 1
    for (name in started) {
        if (!(name in declared)) { printf "pelimora.rc: start %s: no such service\n", name > "/dev/stderr"; exit 1 }
        print "started " name
    }
}
