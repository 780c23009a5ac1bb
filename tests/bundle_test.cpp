// Bundles through the tools: written whole or not at all (against a kill at
// any step of the commit too), checked and previewed set by set on the
// panels of their index, and what they leave unlisted named.
#include "tests/support/expect_ok.h"
#include "tests/support/frame_dir.h"
#include "tests/support/product_line.h"
#include "tests/support/sandboxed.h"
#include "tests/support/tool_run.h"
#include "vfb/runner.h"

#include <csignal>
#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

// The set the device's probe picks from the bundle for this screen.
PlayerRun pick(const VirtualDevices& devices, const fs::path& frames, const fs::path& bundle)
{
    PlayerRun run = run_player(installed_player().probe(), devices, frames, { "--pick", bundle });
    EXPECT_OK(run.error);
    return run;
}

TEST(Bundle, AKillAtAnyStepOfItsCommitLeavesTheOldBundleOrTheNew)
{
    REQUIRE_DEVICE_SANDBOX();
    ProductLine line;
    FrameDir frames;
    Scratch& s = line.scratch;
    auto encode = [&](const char* second, const fs::path& out) {
        return std::vector<std::string> { "pelimora-frames", "encode", s / "art", "--panel", s / "small.json",
            "--panel", s / second, "-q", "-o", out };
    };
    auto run = [&](std::vector<std::string> argv) {
        const std::string tool = argv[0];
        argv.erase(argv.begin());
        return s.run(tool, argv).status;
    };
    ASSERT_EQ(run(encode("other.json", s / "reference")), 0);
    const auto made = contents_of(s / "reference");
    int killed = 0;
    for (int step = 1;; ++step) {
        ASSERT_EQ(run(encode("wide.json", line.bundle)), 0);
        const auto before = contents_of(line.bundle);
        ProcessExit ended;
        pid_t pid
            = start_stopped_at("commit-" + std::to_string(step), encode("other.json", line.bundle), &ended);
        if (pid < 0) {
            EXPECT_EQ(ended.exit_status, 0);
            EXPECT_EQ(contents_of(line.bundle), made);
            break;
        }
        kill(pid, SIGKILL);
        EXPECT_EQ(wait_process(pid).term_signal, SIGKILL);
        ++killed;
        const auto after = contents_of(line.bundle);
        EXPECT_TRUE(after == before || after == made) << "killed before step " << step;
        ToolRun check = s.run("pelimora-frames", { "check", line.bundle });
        EXPECT_EQ(check.status, 0) << "killed before step " << step << "\n" << check.out;
        // Every screen gets a set that is there, or none.
        for (const FbSettings& fb : { FbSettings { .xres = 32, .yres = 20, .bits_per_pixel = 16 },
                 FbSettings { .xres = 40, .yres = 20, .bits_per_pixel = 32 },
                 FbSettings { .xres = 32, .yres = 20, .bits_per_pixel = 32 } }) {
            VirtualDevices devices;
            devices.fb = fb;
            PlayerRun picked = pick(devices, frames.path(), line.bundle);
            if (picked.exit_status == 0)
                EXPECT_TRUE(fs::is_directory(picked.out.substr(0, picked.out.size() - 1))) << picked.out;
            else
                EXPECT_EQ(picked.exit_status, 1) << picked.err;
        }
    }
    EXPECT_GE(killed, 3);
}

TEST(Bundle, CheckNamesWhatItDoesNotList)
{
    ProductLine line;
    const pid_t dead = gone_process_id();
    ASSERT_GT(dead, 0);
    const std::string stale = ".pelimora-" + std::to_string(dead) + "-";
    fs::create_directories(line.bundle / (stale + "32x20-RGB565-64"));
    fs::create_directories(line.scratch / (stale + "bundle"));
    fs::copy(line.bundle / "second-supplier", line.bundle / "copy", fs::copy_options::recursive);
    ToolRun checked = line.scratch.run("pelimora-frames", { "check", line.bundle });
    EXPECT_EQ(checked.status, 0) << checked.out;
    for (const std::string& warning :
        { "warning: " + stale + "32x20-RGB565-64 was left by a pelimora tool stopped before it finished",
            std::string("warning: copy is not listed in index.json"),
            "warning: beside it, " + (line.scratch / (stale + "bundle")).string()
                + " was left by a pelimora tool" })
        EXPECT_NE(checked.out.find(warning), std::string::npos) << warning << "\n" << checked.out;
    // The next writer removes what the killed one left, and nothing else.
    ToolRun again = line.scratch.run("pelimora-frames",
        { "encode", line.scratch / "art", "--panel", line.scratch / "small.json", "--panel",
            line.scratch / "other.json", "-q", "-o", line.bundle });
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_FALSE(fs::exists(line.bundle / (stale + "32x20-RGB565-64")));
    EXPECT_FALSE(fs::exists(line.scratch / (stale + "bundle")));
    EXPECT_TRUE(fs::exists(line.bundle / "copy" / "Loop_40.rle"));
}

TEST(Bundle, CheckedEachSetOnItsPanel)
{
    ProductLine line;
    ToolRun checked = line.scratch.run("pelimora-frames", { "check", line.bundle });
    EXPECT_EQ(checked.status, 0) << checked.out << checked.err;
    EXPECT_NE(checked.out.find("each of the 3 sets"), std::string::npos) << checked.out;
    // One set damaged: the bundle is not right, and the table says which.
    fs::resize_file(line.bundle / "second-supplier" / "Loop_9.rle", 8);
    checked = line.scratch.run("pelimora-frames", { "check", line.bundle });
    EXPECT_EQ(checked.status, 1);
    EXPECT_NE(checked.out.find("not every one of the 3 sets"), std::string::npos) << checked.out;
    // A bundle is checked on the panels of its index, not one named by a flag.
    EXPECT_EQ(line.scratch.run("pelimora-frames", { "check", line.bundle, "--size", "32x20" }).status, 2);
}

TEST(Bundle, PreviewedIsWhatTheVirtualFramebufferShowsForEachSet)
{
    REQUIRE_DEVICE_SANDBOX();
    ProductLine line;
    ToolRun previewed = line.scratch.run(
        "pelimora-frames", { "preview", line.bundle, "-q", "-o", line.scratch / "preview" });
    ASSERT_EQ(previewed.status, 0) << previewed.err;
    ToolRun played
        = line.scratch.run("pelimora-vfb", { "--frames", line.bundle, "-q", "-o", line.scratch / "device" });
    ASSERT_EQ(played.status, 0) << played.err;
    for (const char* set : { "32x20-RGB565-64", "40x20-XRGB8888-192", "second-supplier" }) {
        std::string preview = slurp(line.scratch / "preview" / set / "animation.webp");
        EXPECT_FALSE(preview.empty()) << set;
        EXPECT_EQ(preview, slurp(line.scratch / "device" / set / "animation.webp")) << set;
        EXPECT_NE(played.out.find(std::string(set) + ":\n"), std::string::npos) << played.out;
    }
    // A bundle's previews go outside it, as a set's do.
    EXPECT_EQ(
        line.scratch.run("pelimora-frames", { "preview", line.bundle, "-o", line.bundle / "p" }).status, 2);
}

TEST(Bundle, WrittenWholeOrNotAtAll)
{
    ProductLine line;
    const std::string index = slurp(line.bundle / "index.json");
    std::ofstream(line.scratch / "bad.json") << R"({"xres": 32, "yres": 20})"; // no depth
    ToolRun refused = line.scratch.run("pelimora-frames",
        { "encode", line.scratch / "art", "--panel", line.scratch / "small.json", "--panel",
            line.scratch / "bad.json", "-o", line.bundle });
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.err.find("bad.json"), std::string::npos) << refused.err;
    EXPECT_EQ(slurp(line.bundle / "index.json"), index);
    // Made again for fewer panels: the set no longer listed goes with the old index.
    ToolRun again = line.scratch.run("pelimora-frames",
        { "encode", line.scratch / "art", "--panel", line.scratch / "small.json", "--panel",
            line.scratch / "other.json", "-q", "-o", line.bundle });
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_FALSE(fs::exists(line.bundle / "40x20-XRGB8888-192"));
    EXPECT_TRUE(fs::exists(line.bundle / "second-supplier" / "Loop_40.rle"));
    for (const auto& entry : fs::directory_iterator(line.bundle))
        EXPECT_FALSE(entry.path().filename().string().starts_with(".")) << entry.path();
    // A set does not go into a bundle's folder, nor a bundle into a set's.
    EXPECT_EQ(
        line.scratch
            .run("pelimora-frames", { "encode", line.scratch / "art", "--size", "32x20", "-o", line.bundle })
            .status,
        2);
}

} // namespace
