// What the test makes go wrong: failures at chosen device calls, and SIGUSR1
// sent to the player from a handler installed without SA_RESTART, so every
// signal interrupts whatever the player waits in. Every pause is recorded.
#include "vfb/vdev/vdev.h"

#include <errno.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <atomic>

namespace vdev {

Faults faults;

namespace {

long signal_us = 0;
std::atomic<int> delivered { 0 };
std::atomic<bool> stopping { false };
pthread_t main_thread, signal_thread;
bool signal_thread_running = false;

void on_signal(int)
{
    delivered.fetch_add(1, std::memory_order_relaxed);
}

void* send_signals(void*)
{
    timespec interval = { signal_us / 1000000, signal_us % 1000000 * 1000 };
    while (!stopping.load()) {
        clock_nanosleep(CLOCK_MONOTONIC, 0, &interval, nullptr);
        if (!stopping.load())
            pthread_kill(main_thread, SIGUSR1);
    }
    return nullptr;
}

int64_t to_ns(const timespec& t)
{
    return t.tv_sec * 1000000000LL + t.tv_nsec;
}

} // namespace

void faults_load()
{
    const char* fail = getenv(VDEV_FAIL);
    if (!fail)
        return;
    faults.fb_open = strstr(fail, "fb-open");
    faults.fb_fix = strstr(fail, "fb-fix");
    faults.fb_var = strstr(fail, "fb-var");
    faults.fb_mmap = strstr(fail, "fb-mmap");
    faults.fb_pan = strstr(fail, "fb-pan");
    faults.drm_dumb = strstr(fail, "drm-dumb");
    faults.drm_mmap = strstr(fail, "drm-mmap");
    faults.drm_addfb = strstr(fail, "drm-addfb");
    faults.drm_setcrtc = strstr(fail, "drm-setcrtc");
    faults.drm_dirty = strstr(fail, "drm-dirty");
    auto frame = [fail](const char* point) {
        const char* at = strstr(fail, point);
        return at ? atoi(at + strlen(point)) : 0;
    };
    faults.frame_open = frame("frame-open:");
    faults.frame_fstat = frame("frame-fstat:");
    faults.frame_mmap = frame("frame-mmap:");
}

void signals_start()
{
    if (const char* us = getenv(VDEV_SIGNAL_US))
        signal_us = strtol(us, nullptr, 10);
    if (signal_us <= 0)
        return;
    struct sigaction action = {};
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGUSR1, &action, nullptr);
    main_thread = pthread_self();
    signal_thread_running = pthread_create(&signal_thread, nullptr, send_signals, nullptr) == 0;
}

void signals_stop()
{
    if (!signal_thread_running)
        return;
    stopping.store(true);
    pthread_join(signal_thread, nullptr);
    signal_thread_running = false;
}

int signals_delivered()
{
    return delivered.load();
}

} // namespace vdev

extern "C" int nanosleep(const struct timespec* request, struct timespec* remaining)
{
    // The player passes the same record for both; note what was asked first.
    timespec asked = request ? *request : timespec {};
    int rc = REAL(nanosleep)(request, remaining);
    int error = errno;
    Event e = vdev::event(EventKind::sleep, Device::none, rc);
    e.asked_ns = vdev::to_ns(asked);
    if (rc) {
        e.error = error;
        e.remaining_ns = remaining ? vdev::to_ns(*remaining) : 0;
    }
    vdev::log_event(e);
    errno = error;
    return rc;
}
