dnl AOSP's policy macros that the boot animation's policy uses, with AOSP's
dnl meaning: an exec type entered from init, and the permission sets.
define(`domain_auto_trans', `
allow $1 $2:file { getattr open read execute map };
allow $1 $3:process transition;
allow $3 $2:file { entrypoint open read execute getattr map };
allow $3 $1:process sigchld;
type_transition $1 $2:process $3;
')
define(`init_daemon_domain', `domain_auto_trans(init, $1_exec, $1)')
