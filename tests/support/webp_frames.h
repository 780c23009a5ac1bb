// The pictures of an animated WebP, for the tests that check previews pixel by pixel.
#pragma once

#include "tests/support/tool_run.h"

#include <filesystem>
#include <vector>
#include <webp/demux.h>

// Decodes an animated WebP into its frames as 8-bit RGB.
inline std::vector<std::vector<uint8_t>> webp_frames(
    const std::filesystem::path& path, std::vector<int>* timestamps)
{
    std::string bytes = slurp(path);
    WebPData data = { reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size() };
    WebPAnimDecoderOptions options;
    WebPAnimDecoderOptionsInit(&options);
    options.color_mode = MODE_RGBA;
    WebPAnimDecoder* decoder = WebPAnimDecoderNew(&data, &options);
    std::vector<std::vector<uint8_t>> frames;
    WebPAnimInfo info;
    if (!decoder || !WebPAnimDecoderGetInfo(decoder, &info))
        return frames;
    while (WebPAnimDecoderHasMoreFrames(decoder)) {
        uint8_t* rgba;
        int timestamp;
        if (!WebPAnimDecoderGetNext(decoder, &rgba, &timestamp))
            break;
        std::vector<uint8_t> rgb;
        for (size_t i = 0; i < size_t(info.canvas_width) * info.canvas_height; ++i)
            rgb.insert(rgb.end(), { rgba[i * 4], rgba[i * 4 + 1], rgba[i * 4 + 2] });
        frames.push_back(rgb);
        timestamps->push_back(timestamp);
    }
    WebPAnimDecoderDelete(decoder);
    return frames;
}
