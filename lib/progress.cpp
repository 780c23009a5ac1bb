#include "lib/progress.h"

#include <cstdio>
#include <unistd.h>

Progress::Progress(std::string tool, std::string what, int total, bool quiet)
    : tool_(std::move(tool))
    , what_(std::move(what))
    , total_(total)
    , shown_(!quiet && isatty(STDERR_FILENO))
{
}

Progress::~Progress()
{
    done();
}

void Progress::step(int done)
{
    auto now = std::chrono::steady_clock::now();
    // A few redraws a second are enough to see it move.
    if (!shown_ || (done < total_ && now - last_ < std::chrono::milliseconds(100)))
        return;
    last_ = now;
    double seconds = std::chrono::duration<double>(now - start_).count();
    std::fprintf(
        stderr, "\r%s: %s %d of %d, %.1f s\033[K", tool_.c_str(), what_.c_str(), done, total_, seconds);
    std::fflush(stderr);
    drawn_ = true;
}

void Progress::done()
{
    if (drawn_) {
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
        drawn_ = false;
    }
}
