// The RLE565 coder: colour codes to the player's run records.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

constexpr uint32_t MAX_RUN = 65535;

// Run records covering `pixels` in order, runs merged up to MAX_RUN.
std::vector<uint8_t> encode_rle565(std::span<const uint16_t> pixels);
// The same made in `room`, which has a record's room for each pixel; the
// records are the start of it (none when `room` is short).
std::span<const uint8_t> encode_rle565_into(std::span<const uint16_t> pixels, std::span<uint8_t> room);

// One run record, for building frames by hand.
void append_run(std::vector<uint8_t>& frame, uint16_t count, uint16_t colour);
