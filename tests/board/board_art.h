// What the board tests show: frames made to prove every one was drawn, in
// order, to the pixel; and a bundle made by encode from the sample animation.
#pragma once

#include "core/schedule.h"
#include "tests/board/display.h"

#include <cstdint>
#include <filesystem>
#include <vector>

constexpr uint32_t WIDTH = 640, HEIGHT = 480, BAND = WIDTH * HEIGHT / FRAME_COUNT;

// The pixels frame n covers.
uint32_t frame_pixels(int n);
// Frame n (1 to FRAME_COUNT), and all of them in order.
Frame board_frame(int n);
std::vector<Frame> board_frames();
// The bundle, made once: every 640x480 panel the boards may report, or (for
// `other`) a panel none of them has.
std::filesystem::path board_bundle(bool other);
// The frames of the set in `dir`, in order.
std::vector<Frame> read_set_frames(const std::filesystem::path& dir);
