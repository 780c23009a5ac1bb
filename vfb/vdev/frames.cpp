// The frame files: the frames' directory is redirected to the runner's, and
// opening, sizing or mapping one chosen frame can be made to fail.
#include "vfb/vdev/vdev.h"

#include "core/schedule.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace vdev {

int frame_number(const char* path)
{
    size_t prefix = strlen(FRAME_PATH_PREFIX);
    return strncmp(path, FRAME_PATH_PREFIX, prefix) != 0 ? 0 : atoi(path + prefix);
}

static bool is_frame_fault(int fd, int frame)
{
    OpenFile* file = frame ? find_open(fd, false) : nullptr;
    return file && file->device == Device::frame && frame_number(file->path) == frame;
}

bool frame_mmap_fails(int fd)
{
    return is_frame_fault(fd, faults.frame_mmap);
}

bool frame_fstat_fails(int fd)
{
    return is_frame_fault(fd, faults.frame_fstat);
}

int frame_open(const char* path, int flags, mode_t mode)
{
    constexpr unsigned directory = frame_directory_length();
    if (strncmp(path, FRAME_PATH_PREFIX, directory) != 0)
        return -2;
    Event e = event(EventKind::open, Device::frame, -1);
    e.flags = flags;
    snprintf(e.path, sizeof e.path, "%s", path);
    if (faults.frame_open && frame_number(path) == faults.frame_open) {
        log_event(e);
        return fail(EACCES);
    }
    char redirected[4096];
    snprintf(redirected, sizeof redirected, "%s/%s", config.bootimages ? config.bootimages : "/nonexistent",
        path + directory);
    int fd = REAL(open)(redirected, flags, mode);
    int error = errno;
    e.rc = fd;
    log_event(e);
    track(fd, Device::frame, path);
    errno = error;
    return fd;
}

} // namespace vdev
