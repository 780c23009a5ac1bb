// The commands of pelimora-frames, each taking what its command line gave it
// and returning what failed, which main prints once. They report on standard
// output; errors are one line, each naming the file. Outputs are
// written all or nothing; inputs must be regular files; memory is bounded by
// the screen, never by the input.
#pragma once

#include "commands/encode.h"
#include "commands/screen_flags.h"
#include "frames/screen_choice.h"

#include <optional>
#include <string>
#include <vector>

struct ViewOptions {
    std::string input; // frame file (decode) or set directory (preview, check)
    ScreenFlags screen;
    // A bundle's set: the panel its index lists, in place of the flags.
    std::optional<ScreenGeometry> listed;
    std::string base; // PNG the screen shows first; "" for black
    std::string out;
    bool quiet = false;
};
// A frame file to a PNG of what the player leaves on the screen.
Error decode_frame_file(const ViewOptions& options);
// A set to what the device shows: OUT/animation.webp and OUT/contact-sheet.png.
Error preview_frames(const ViewOptions& options);
// A table of every frame against the screen; 0 only when each covers it
// exactly and the set was made for this screen.
Error check_frames(const ViewOptions& options);
struct LogosOptions {
    std::string input; // the artwork
    ScreenFlags screen;
    std::string fit = "contain", background = "000000";
    double start_seconds = 0;
    bool dither = false;
    std::string out; // directory, replaced as a whole
};
// The bootloader's splash (BMP) and the kernel's logo (PPM) from the
// artwork, fitted as encode fits frame 1, with the kernel command line and
// a README, into `out`.
Error write_boot_logos(const LogosOptions& options);

// The built-in sample animation as PNG images.
Error write_sample(const std::string& out, const ScreenGeometry& geometry);
