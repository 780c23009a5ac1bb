// CLOSEFB (Linux 6.8), for uapi headers older than it: the framebuffer leaves
// the file's list but stays on its plane until the next master replaces it.
// Older kernels answer EINVAL.
#pragma once

#include <drm/drm.h>

#ifndef DRM_IOCTL_MODE_CLOSEFB
struct drm_mode_closefb {
    __u32 fb_id;
    __u32 pad;
};
#define DRM_IOCTL_MODE_CLOSEFB DRM_IOWR(0xD0, struct drm_mode_closefb)
#endif
