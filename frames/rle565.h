// The RLE565 coder: colour codes to the player's run records.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

constexpr uint32_t MAX_RUN = 65535;

// Run records covering `pixels` in order, runs merged up to MAX_RUN.
std::vector<uint8_t> encode_rle565(std::span<const uint16_t> pixels);
// The same records made in `room` and handed to `put` each time it is full
// and at the end, so that a frame of any size takes only `room`: false as
// soon as `put` is (or when `room` holds no record), true when all went.
bool encode_rle565_through(std::span<const uint16_t> pixels, std::span<uint8_t> room,
    const std::function<bool(std::span<const uint8_t>)>& put);

// One run record, for building frames by hand.
void append_run(std::vector<uint8_t>& frame, uint16_t count, uint16_t colour);
