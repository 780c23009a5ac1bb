// The virtual console: present, missing or refusing graphics mode; its open
// flags and the mode asked for are recorded.
#include "vfb/vdev/vdev.h"

#include <errno.h>
#include <linux/kd.h>
#include <sys/mman.h>

namespace vdev {

int tty_open(int flags)
{
    Event e = event(EventKind::open, Device::tty, -1);
    e.flags = flags;
    if (config.tty == Config::tty_missing) {
        log_event(e);
        return fail(ENOENT);
    }
    int fd = memfd_create("vdev-tty0", 0);
    e.rc = fd;
    log_event(e);
    track(fd, Device::tty, "vdev-tty0");
    return fd;
}

namespace {
int console_mode = KD_TEXT; // as the console starts, until graphics mode is accepted
}

int tty_ioctl(unsigned long request, void* arg)
{
    if (request == KDGETMODE && config.tty != Config::tty_refuse) {
        Event e = event(EventKind::ioctl, Device::tty, 0);
        e.request = int64_t(request);
        log_event(e);
        *static_cast<int*>(arg) = console_mode;
        return 0;
    }
    if (request != KDSETMODE) {
        Event e = event(EventKind::ioctl, Device::tty, -1);
        e.request = int64_t(request);
        log_event(e);
        return fail(ENOTTY);
    }
    Event e = event(EventKind::kdsetmode, Device::tty, config.tty == Config::tty_refuse ? -1 : 0);
    e.request = int64_t(reinterpret_cast<uintptr_t>(arg));
    log_event(e);
    if (!e.rc)
        console_mode = int(reinterpret_cast<uintptr_t>(arg));
    return e.rc ? fail(EINVAL) : 0;
}

} // namespace vdev
