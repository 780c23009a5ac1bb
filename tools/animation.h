// Pictures of a playback: a lossless animated WebP that plays in a browser and
// a contact sheet of every frame with its number.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// `screens` are 8-bit RGB pictures of width x height. Returns "" or the error.
std::string write_animation(const std::filesystem::path& path, uint32_t width, uint32_t height,
    const std::vector<std::vector<uint8_t>>& screens);

enum class SheetMark { drawn, not_drawn, missing };

// Thumbnails in rows of eight, each over a strip with its number; the strip is
// green for a drawn frame, amber for one that was not drawn (empty or
// unreadable), red for a missing one.
std::string write_contact_sheet(const std::filesystem::path& path, uint32_t width, uint32_t height,
    const std::vector<std::vector<uint8_t>>& screens, const std::vector<SheetMark>& marks);

constexpr char ANIMATION_FILE[] = "animation.webp", CONTACT_SHEET_FILE[] = "contact-sheet.png";

// Both pictures into `dir` (made if need be), as ANIMATION_FILE and
// CONTACT_SHEET_FILE. Returns "" or the error.
std::string write_playback_pictures(const std::filesystem::path& dir, uint32_t width, uint32_t height,
    const std::vector<std::vector<uint8_t>>& screens, const std::vector<SheetMark>& marks);
