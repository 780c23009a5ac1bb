#pragma once

#include <cstdint>
#include <vector>

// Frame n (1 to FRAME_COUNT) of the built-in sample animation as 8-bit RGB:
// a spinner of anti-aliased dots turning once and a progress bar filling up.
std::vector<uint8_t> render_sample_frame(int n, uint32_t width, uint32_t height);
