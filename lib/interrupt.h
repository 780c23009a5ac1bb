// SIGINT, SIGTERM and SIGHUP as a request to stop: the tool unwinds, removes
// what it had not finished, and then dies of the signal as if it had not
// caught it, so a shell or a build system sees what happened.
#pragma once

#include <csignal>
#include <exception>

struct Interrupted : std::exception {
    const char* what() const noexcept override { return "interrupted"; }
};

// Installs the handlers (without SA_RESTART: a blocked read returns).
void catch_interrupts();
// The signal that asked to stop, or 0.
int interrupt_signal();
// Throws Interrupted once a signal has asked to stop.
void stop_if_interrupted();
// Dies of the signal that asked to stop, if one did.
void die_if_interrupted();

// The three signals held back for the scope's lifetime: for the few renames
// that turn a finished output into the real one.
class SignalsHeld {
public:
    SignalsHeld();
    ~SignalsHeld();
    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;

private:
    sigset_t previous_;
};
