// The board's stand-in for the player on boards that boot a real init
// system (systemd with udev, BusyBox with mdev). Installed as
// /usr/bin/pelimora (and as /usr/bin/pelimora-kms), it is what the init
// system's start files run: it runs the real program of its name
// (/usr/lib/pelimora-board/pelimora, or pelimora-kms) and reports on the
// serial console what it did, when, and on what screen, then has the
// display ready for the host's screen dump. Also loads the display driver
// late, as a slow driver or a module loaded after the basic boot would.
//
//   board_watch load SECONDS   waits, then loads pelimora.modules=a,b,c
//   pelimora, pelimora-kms     runs that program and reports
//
// Kernel command line options it reads:
//   pelimora.modules=a,b,c  the display driver's modules, in /modules
//   pelimora.burst          kernel messages at console level while the
//                           player runs and after it exits
#include "tests/board/guest.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

namespace {

constexpr char STARTS[] = "pelimora-board: the player starts";

void kernel_line(int kmsg, const char* line)
{
    (void)!write(kmsg, line, strlen(line));
}

// Lines at KERN_CRIT, above the console's level even with "quiet": the
// console draws each one unless it is in graphics mode.
void burst(int kmsg, int lines)
{
    for (int n = 0; n < lines; ++n) {
        char line[96];
        snprintf(
            line, sizeof line, "<2>pelimora-board: text for the console %d: ########################\n", n);
        kernel_line(kmsg, line);
    }
}

// A child writing bursts until it is killed.
pid_t start_bursts(int kmsg)
{
    pid_t pid = fork();
    if (pid == 0) {
        for (;;) {
            burst(kmsg, 8);
            timespec pause = { 0, 10 * 1000 * 1000 };
            nanosleep(&pause, nullptr);
        }
    }
    return pid;
}

// Milliseconds of the kernel's log record holding `text` (its own clock,
// as the kernel stamps records), or -1.
double record_ms(const char* text, const char* also)
{
    int fd = open("/dev/kmsg", O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    char record[1024];
    double found = -1;
    for (ssize_t n; found < 0 && ((n = read(fd, record, sizeof record - 1)) > 0 || errno == EPIPE);) {
        if (n <= 0)
            continue;
        record[n] = '\0';
        unsigned long long us;
        const char* message = strchr(record, ';');
        if (message && strstr(message, text) && (!also || strstr(message, also))
            && sscanf(record, "%*u,%*u,%llu", &us) == 1)
            found = us / 1e3;
    }
    close(fd);
    return found;
}

// `kms`: pelimora-kms, timed from the DRM card's registration rather than fb0's.
int play(bool kms)
{
    output_to_console();
    char cmdline[1024];
    read_cmdline(cmdline, sizeof cmdline);
    int kmsg = open("/dev/kmsg", O_WRONLY | O_CLOEXEC);
    // Both records read now, before the bursts can push them out of the log.
    kernel_line(kmsg, "<6>pelimora-board: the player starts\n");
    double registered_ms
        = kms ? record_ms("Initialized", "on minor 0") : record_ms("fb0: ", "frame buffer device");
    double started_ms = record_ms(STARTS, nullptr);
    bool text = strstr(cmdline, "pelimora.burst") != nullptr;
    pid_t bursts = text ? start_bursts(kmsg) : -1;

    say("pelimora-init: starting the player");
    double start = now_ms();
    int status
        = run(kms ? "/usr/lib/pelimora-board/pelimora-kms" : "/usr/lib/pelimora-board/pelimora", nullptr);
    double elapsed = now_ms() - start;
    if (bursts > 0) {
        kill(bursts, SIGKILL);
        waitpid(bursts, nullptr, 0);
        burst(kmsg, 40);
    }
    say("pelimora-init: player exit=%d signal=%d ms=%.1f", WIFEXITED(status) ? WEXITSTATUS(status) : -1,
        WIFSIGNALED(status) ? WTERMSIG(status) : 0, elapsed);
    report_screen("/dev/graphics/fb0");
    say("pelimora-init: display registered at %.1f ms, player started at %.1f ms", registered_ms, started_ms);
    // With drm.debug=0x04 the kernel logs each SETCRTC: pelimora-kms's first is its first frame shown.
    if (kms)
        say("pelimora-init: first frame at %.1f ms", record_ms("drm_mode_setcrtc", nullptr));
    flush_display();
    say("pelimora-init: ready for the screen dump");
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

int load(const char* seconds)
{
    output_to_console();
    timespec wait = { atoi(seconds), 0 };
    while (nanosleep(&wait, &wait) != 0 && errno == EINTR) { }
    char cmdline[1024];
    read_cmdline(cmdline, sizeof cmdline);
    say("pelimora-board: loading the display");
    load_named_modules(cmdline);
    say("pelimora-board: display loaded");
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && strcmp(argv[1], "load") == 0)
        return load(argv[2]);
    const char* name = strrchr(argv[0], '/');
    return play(strcmp(name ? name + 1 : argv[0], "pelimora-kms") == 0);
}
