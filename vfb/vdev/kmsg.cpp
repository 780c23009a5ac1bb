// The kernel log: a file of the runner's, appended to, or unopenable. Each
// write the player makes is recorded, so one message is seen to be one write.
#include "core/devices.h"
#include "vfb/vdev/vdev.h"

#include <errno.h>
#include <fcntl.h>

namespace vdev {

int kmsg_open(int flags)
{
    int fd = config.kmsg ? REAL(open)(config.kmsg, (flags & O_ACCMODE) | O_CREAT | O_APPEND, 0644) : -1;
    Event e = event(EventKind::open, Device::kmsg, fd);
    e.flags = flags;
    log_event(e);
    if (fd < 0)
        return fail(EACCES);
    track(fd, Device::kmsg, KMSG_PATH);
    return fd;
}

} // namespace vdev
