#include "tests/board/guest.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/fb.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

void say(const char* format, ...)
{
    char line[256];
    va_list args;
    va_start(args, format);
    int n = vsnprintf(line, sizeof line - 1, format, args);
    va_end(args);
    if (n > static_cast<int>(sizeof line) - 2)
        n = sizeof line - 2;
    line[n++] = '\n';
    (void)!write(1, line, n);
}

void output_to_console()
{
    int console = open("/dev/console", O_WRONLY | O_CLOEXEC);
    if (console >= 0 && console != 1) {
        dup2(console, 1);
        close(console);
    }
}

void load_named_modules(const char* cmdline)
{
    char list[256] = "";
    if (const char* modules = strstr(cmdline, "pelimora.modules="))
        sscanf(modules + strlen("pelimora.modules="), "%255s", list);
    load_modules(list, cmdline);
}

double now_ms()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

void read_cmdline(char* line, size_t size)
{
    line[0] = '\0';
    int fd = open("/proc/cmdline", O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        ssize_t n = read(fd, line, size - 1);
        line[n > 0 ? n : 0] = '\0';
        close(fd);
    }
}

// "param=value ..." for every "module.param=value" word of the command line.
static void module_parameters(const char* cmdline, const char* module, char* out, size_t size)
{
    out[0] = '\0';
    size_t length = strlen(module), used = 0;
    for (const char* word = cmdline; *word; word += strcspn(word, " "), word += strspn(word, " ")) {
        size_t n = strcspn(word, " ");
        if (n > length + 1 && !strncmp(word, module, length) && word[length] == '.' && used + n < size)
            used += size_t(snprintf(
                out + used, size - used, "%s%.*s", used ? " " : "", int(n - length - 1), word + length + 1));
    }
}

void load_modules(char* list, const char* cmdline)
{
    char* rest = nullptr;
    for (char* name = strtok_r(list, ",", &rest); name; name = strtok_r(nullptr, ",", &rest)) {
        char path[128], parameters[256];
        snprintf(path, sizeof path, "/modules/%s.ko", name);
        module_parameters(cmdline, name, parameters, sizeof parameters);
        int fd = open(path, O_RDONLY | O_CLOEXEC);
        long rc = fd < 0 ? -1 : syscall(SYS_finit_module, fd, parameters, 0);
        say("pelimora-init: module %s %s", name, rc == 0 ? "loaded" : strerror(errno));
        if (fd >= 0)
            close(fd);
    }
}

void report_screen(const char* device)
{
    int fd = open(device, O_RDONLY | O_CLOEXEC);
    fb_var_screeninfo var;
    fb_fix_screeninfo fix;
    if (fd < 0 || ioctl(fd, FBIOGET_VSCREENINFO, &var) != 0 || ioctl(fd, FBIOGET_FSCREENINFO, &fix) != 0) {
        say("pelimora-init: screen none");
    } else {
        say("pelimora-init: screen %ux%u bpp=%u line=%u red=%u/%u green=%u/%u blue=%u/%u transp=%u/%u",
            var.xres, var.yres, var.bits_per_pixel, fix.line_length, var.red.offset, var.red.length,
            var.green.offset, var.green.length, var.blue.offset, var.blue.length, var.transp.offset,
            var.transp.length);
        // The same pan the player asks for, to see whether this driver has one.
        say("pelimora-init: pan %s", ioctl(fd, FBIOPAN_DISPLAY, &var) == 0 ? "works" : strerror(errno));
    }
    if (fd >= 0)
        close(fd);
}

// A driver that copies a shadow buffer to the display later (DRM's
// emulation) copies it at once on fsync; a plain framebuffer is the display
// already.
void flush_display()
{
    int fd = open("/dev/graphics/fb0", O_RDWR | O_CLOEXEC);
    if (fd >= 0) {
        (void)fsync(fd);
        close(fd);
    }
}

int run(const char* program, const char* argument)
{
    pid_t pid = fork();
    if (pid == 0) {
        char* argv[] = { const_cast<char*>(program), const_cast<char*>(argument), nullptr };
        execv(argv[0], argv);
        say("pelimora-init: exec %s: %s", program, strerror(errno));
        _exit(127);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) { }
    return status;
}
