// A bundle for three panels of one product line, made by encode: 32x20
// RGB565, 40x20 XRGB8888 with 192-byte lines, and 32x20 ABGR8888 under a
// name of its own.
#pragma once

#include "tests/support/tool_run.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

struct ProductLine {
    Scratch scratch;
    std::filesystem::path bundle = scratch / "bundle";
    ProductLine()
    {
        EXPECT_EQ(
            scratch.run("pelimora-frames", { "sample", "--size", "32x20", "-o", scratch / "art" }).status, 0);
        std::ofstream(scratch / "small.json") << R"({"xres": 32, "yres": 20, "bits_per_pixel": 16})";
        std::ofstream(scratch / "wide.json")
            << R"({"xres": 40, "yres": 20, "bits_per_pixel": 32, "format": "XRGB8888", "line_length": 192})";
        std::ofstream(scratch / "other.json")
            << R"({"xres": 32, "yres": 20, "bits_per_pixel": 32, "format": "ABGR8888", "name": "second-supplier"})";
        ToolRun made = scratch.run("pelimora-frames",
            { "encode", scratch / "art", "--panel", scratch / "small.json", "--panel", scratch / "wide.json",
                "--panel", scratch / "other.json", "-q", "-o", bundle });
        EXPECT_EQ(made.status, 0) << made.err;
    }
};
