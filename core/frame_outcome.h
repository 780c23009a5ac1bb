// What became of a frame file when the player came to it, as the screen and
// the kernel log show it: the one answer the replay, the runner and the
// previews give.
#pragma once

enum class FrameOutcome {
    drawn, // mapped, decoded and panned
    not_drawn, // not drawn (empty, a directory, unreadable): the screen stays
    missing, // not there: the player logs it and the screen stays
};
