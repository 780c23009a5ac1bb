// pelimora-frames encode: artwork to frames fitted to the panel, written as
// a set the player shows as meant, in as few bytes of screen memory as asked.
#pragma once

#include "commands/screen_flags.h"
#include "core/schedule.h"
#include "frames/screen_choice.h"

#include <string>
#include <vector>

struct EncodeOptions {
    std::vector<std::string> inputs; // pictures, animations, video, directories, NAME%02d.png sequences
    std::string out; // frame file, or directory for a set
    ScreenFlags screen; // the panel; a picture's own size only when it has one
    std::vector<std::string> panels; // panel files: one is the panel, more make a bundle
    std::string panels_dir; // a folder of panel files, for a bundle
    std::string fit = "contain"; // contain, cover, fill, none
    std::string background = "000000";
    bool dither = false;
    double start_seconds = 0; // into an animation or video
    int every_ms = FRAME_DELAY_US / 1000; // between the times sampled
    bool spread = false; // the frames spread over the whole clip instead
    bool loop = false; // a short source repeated rather than held
    bool hold = false; // one picture, then frames that draw nothing
    bool fade_in = false; // from the background to the picture over the frames
    bool trim = false; // each frame ends after its last changed pixel
    bool reachable = false; // fitted into the rows the player's stream draws in full
    bool allow_short = false; // a clip cut short of its stated length is used as far as it goes
    bool quiet = false;
};

// One still to one frame file; anything else to a set OUT/Loop_1.rle ...
// with its description, replacing the set that was there as a whole; for
// several panels, a bundle: a set each in OUT/NAME/ and OUT/index.json.
Error encode_frames(const EncodeOptions& options);
