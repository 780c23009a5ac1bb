// Progress of a long step: on a terminal, one line redrawn in place ("encode:
// 12 of 40 frames, 3.1 s"); on a pipe or with --quiet, nothing, so that logs
// keep only the summary the tool prints at the end.
#pragma once

#include <chrono>
#include <string>

class Progress {
public:
    Progress(std::string tool, std::string what, int total, bool quiet);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    void step(int done);
    void done();

private:
    std::string tool_, what_;
    int total_;
    bool shown_;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now(), last_ {};
};
