#include "lib/interrupt.h"

#include <csignal>
#include <pthread.h>

namespace {

volatile std::sig_atomic_t stop_signal = 0;
constexpr int SIGNALS[] = { SIGINT, SIGTERM, SIGHUP };

void on_signal(int signal)
{
    stop_signal = signal;
}

sigset_t signal_set()
{
    sigset_t set;
    sigemptyset(&set);
    for (int signal : SIGNALS)
        sigaddset(&set, signal);
    return set;
}

} // namespace

void catch_interrupts()
{
    struct sigaction action = {};
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    for (int signal : SIGNALS)
        sigaction(signal, &action, nullptr);
}

int interrupt_signal()
{
    return stop_signal;
}

void stop_if_interrupted()
{
    if (stop_signal)
        throw Interrupted();
}

void die_if_interrupted()
{
    int signal = stop_signal;
    if (!signal)
        return;
    std::signal(signal, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    std::raise(signal);
}

SignalsHeld::SignalsHeld()
{
    sigset_t set = signal_set();
    pthread_sigmask(SIG_BLOCK, &set, &previous_);
}

SignalsHeld::~SignalsHeld()
{
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}
