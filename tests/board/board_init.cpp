// init for the emulated board: sets up /dev as a boot would, reports the
// screen and the platform as the kernel tells them, runs the player, waits
// for the host's screen dump (nothing touches the screen between the
// player's exit and the dump); when the host asks, runs the probe (its
// report, its timing, its card) for a second dump; then powers off.
// With /pelimora-armv7 in the initramfs, first tries to run that too (on a
// core without 32-bit execution its exec fails). With a bundle in
// /bootimages.d, first points /bootimages at the set the probe picks, as a
// device's boot script does.
//
// Kernel command line options it reads:
//   pelimora.modules=a,b,c  load /modules/a.ko, b.ko, c.ko in that order
//   pelimora.wait_fb        wait for /dev/fb0 to appear (modular drivers)
//   pelimora.wait_card      wait for /dev/dri/card0 to appear
//   pelimora.kms            run /pelimora-kms in place of the player
//   pelimora.hold_card      hold /dev/dri/card0 open, its master, while it runs
//   pelimora.rgba           ask for red at offset 0, blue at 16 on 32-bit screens
#include "tests/board/guest.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/fb.h>
#include <stdio.h>
#include <string.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/reboot.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

static void set_rgba_order()
{
    int fd = open("/dev/fb0", O_RDWR);
    fb_var_screeninfo var;
    if (fd < 0 || ioctl(fd, FBIOGET_VSCREENINFO, &var) != 0) {
        say("pelimora-init: cannot read the screen information");
    } else if (var.bits_per_pixel == 32) {
        var.red.offset = 0;
        var.blue.offset = 16;
        if (ioctl(fd, FBIOPUT_VSCREENINFO, &var) != 0)
            say("pelimora-init: FBIOPUT_VSCREENINFO: %s", strerror(errno));
    }
    if (fd >= 0)
        close(fd);
}

// What the kernel says of itself: machine, page size, the cores that run 32-bit programs.
static void report_platform()
{
    utsname names;
    if (uname(&names) != 0)
        strcpy(names.machine, "unknown");
    char cpus[64] = "none";
    int fd = open("/sys/devices/system/cpu/aarch32_el0", O_RDONLY);
    if (fd >= 0) {
        ssize_t n = read(fd, cpus, sizeof cpus - 1);
        cpus[n > 0 ? n : 0] = '\0';
        cpus[strcspn(cpus, "\n")] = '\0';
        close(fd);
    }
    say("pelimora-init: platform machine=%s page_size=%ld aarch32_el0=%s", names.machine,
        sysconf(_SC_PAGESIZE), cpus);
}

// Blocks until `node` is in `dir`: devtmpfs makes the node when the driver
// registers it, which the watch on `dir` hears of. No deadline: a board
// without one fails at the host's.
static void wait_for(const char* dir, const char* node)
{
    int watch = inotify_init1(IN_CLOEXEC);
    if (watch < 0 || inotify_add_watch(watch, dir, IN_CREATE) < 0) {
        say("pelimora-init: cannot watch %s: %s", dir, strerror(errno));
        return;
    }
    char path[64];
    snprintf(path, sizeof path, "%s/%s", dir, node);
    struct stat made;
    char events[1024];
    while (stat(path, &made) != 0 && (read(watch, events, sizeof events) > 0 || errno == EINTR)) { }
    close(watch);
}

// ln -sfn "$(pelimora-probe --pick /bootimages.d)" /bootimages, said on the console.
static void pick_set()
{
    if (access("/bootimages.d/index.json", F_OK) != 0)
        return;
    int out[2];
    if (pipe(out) != 0)
        return;
    pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        close(out[0]);
        close(out[1]);
        execl("/pelimora-probe", "/pelimora-probe", "--pick", "/bootimages.d", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    char path[256] = "";
    size_t length = 0;
    for (ssize_t n;
         length < sizeof path - 1 && (n = read(out[0], path + length, sizeof path - 1 - length)) > 0;)
        length += size_t(n);
    close(out[0]);
    path[length] = '\0';
    path[strcspn(path, "\n")] = '\0';
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) { }
    int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (code == 0 && path[0] && symlink(path, "/bootimages") != 0)
        say("pelimora-init: symlink %s: %s", path, strerror(errno));
    say("pelimora-init: pick exit=%d set=%s", code, path[0] ? path : "none");
}

int main()
{
    mkdir("/dev", 0755);
    mkdir("/proc", 0755);
    mkdir("/sys", 0755);
    mount("devtmpfs", "/dev", "devtmpfs", 0, nullptr);
    mount("proc", "/proc", "proc", 0, nullptr);
    mount("sysfs", "/sys", "sysfs", 0, nullptr);
    int console = open("/dev/console", O_RDWR);
    if (console >= 0) {
        dup2(console, 0), dup2(console, 1), dup2(console, 2);
        if (console > 2)
            close(console);
    }

    char cmdline[1024];
    read_cmdline(cmdline, sizeof cmdline);
    load_named_modules(cmdline);
    struct stat fb;
    if (strstr(cmdline, "pelimora.wait_fb"))
        wait_for("/dev", "fb0");
    if (strstr(cmdline, "pelimora.wait_card")) {
        wait_for("/dev", "dri");
        wait_for("/dev/dri", "card0");
    }
    const bool kms = strstr(cmdline, "pelimora.kms");
    // The first opener of a card nobody holds becomes its master, as a compositor would.
    const int held = strstr(cmdline, "pelimora.hold_card") ? open("/dev/dri/card0", O_RDWR | O_CLOEXEC) : -1;
    if (stat("/dev/fb0", &fb) == 0) {
        mkdir("/dev/graphics", 0755);
        mknod("/dev/graphics/fb0", S_IFCHR | 0600, fb.st_rdev);
        if (strstr(cmdline, "pelimora.rgba"))
            set_rgba_order();
    }

    report_platform();
    report_screen("/dev/fb0");
    pick_set();
    int status;
    if (access("/pelimora-armv7", F_OK) == 0) {
        status = run("/pelimora-armv7", nullptr);
        say("pelimora-init: armv7 player exit=%d", WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    }
    say("pelimora-init: starting the player");
    double start = now_ms();
    status = run(kms ? "/pelimora-kms" : "/pelimora", nullptr);
    double elapsed = now_ms() - start;
    say("pelimora-init: player exit=%d signal=%d ms=%.1f", WIFEXITED(status) ? WEXITSTATUS(status) : -1,
        WIFSIGNALED(status) ? WTERMSIG(status) : 0, elapsed);
    flush_display();
    say("pelimora-init: ready for the screen dump");

    // The host answers with a line on the console once it has the picture:
    // "probe" to run the probe and leave its card up for a second dump.
    char answer[16] = "";
    (void)!read(0, answer, sizeof answer - 1);
    if (strncmp(answer, "probe", 5) == 0) {
        // Each part between markers, so the host can take the JSON apart.
        say("pelimora-init: probe report begins");
        status = run("/pelimora-probe", nullptr);
        say("pelimora-init: probe report exit=%d", WIFEXITED(status) ? WEXITSTATUS(status) : -1);
        say("pelimora-init: probe time begins");
        status = run("/pelimora-probe", "--time");
        say("pelimora-init: probe time exit=%d", WIFEXITED(status) ? WEXITSTATUS(status) : -1);
        status = run("/pelimora-probe", "--card");
        say("pelimora-init: probe card exit=%d", WIFEXITED(status) ? WEXITSTATUS(status) : -1);
        flush_display();
        say("pelimora-init: card ready for the screen dump");
        (void)!read(0, answer, sizeof answer - 1);
    }
    if (held >= 0) // through the probe too
        close(held);
    say("pelimora-init: powering off");
    sync();
    reboot(RB_POWER_OFF);
    return 0;
}
