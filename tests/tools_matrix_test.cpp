// The tools against bad input, as the player is against a failing device:
// each case asserts the exit status, the one-line message, that what was
// there before is intact, and that no temporary file is left.
#include "artwork/still.h"
#include "commands/screen_flags.h"
#include "core/schedule.h"
#include "frames/panel_stream.h"
#include "frames/panel_view.h"
#include "frames/replay.h"
#include "frames/rle565.h"
#include "frames/set_description.h"
#include "lib/helpers.h"
#include "lib/staged_files.h"
#include "preview/png.h"
#include "tests/support/expect_ok.h"
#include "tests/support/frame_dir.h"
#include "tests/support/sandboxed.h"
#include "tests/support/tool_run.h"
#include "tests/support/webp_frames.h"
#include "vfb/runner.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <csignal>
#include <fcntl.h>
#include <functional>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

namespace fs = std::filesystem;

namespace {

constexpr uint32_t W = 64, H = 48;

// A picture of its own for each n; `noisy` makes every pixel differ, so
// frames grow large and slow to make.
std::vector<uint8_t> picture(int n, uint32_t width, uint32_t height, bool noisy = false)
{
    std::vector<uint8_t> rgb(size_t(width) * height * 3);
    uint32_t state = 2654435761u * uint32_t(n + 1);
    for (size_t i = 0; i < rgb.size(); ++i) {
        state = state * 1664525 + 1013904223;
        rgb[i] = noisy ? uint8_t(state >> 24) : uint8_t(i / 3 / width * 5 + n * 17 + i % 3 * 60);
    }
    return rgb;
}

void write_art(const fs::path& dir, int count, uint32_t width = W, uint32_t height = H, bool noisy = false)
{
    fs::create_directories(dir);
    for (int n = 1; n <= count; ++n) {
        std::string name = "a";
        name += std::to_string(n) + ".png"; // (one concatenation: GCC 12 warns wrongly about the other)
        ASSERT_OK(write_png_rgb(dir / name, width, height, picture(n, width, height, noisy)));
    }
}

std::string be32(uint32_t v)
{
    return std::string { char(v >> 24), char(v >> 16), char(v >> 8), char(v) };
}

std::string png_chunk(const std::string& type, const std::string& data)
{
    std::string body = type + data;
    uint32_t crc = uint32_t(crc32(0, reinterpret_cast<const Bytef*>(body.data()), uInt(body.size())));
    return be32(uint32_t(data.size())) + body + be32(crc);
}

// A whole PNG whose header claims width x height; the pixels fall far short.
std::string png_header_only(uint32_t width, uint32_t height)
{
    return std::string("\x89PNG\r\n\x1a\n", 8)
        + png_chunk("IHDR", be32(width) + be32(height) + std::string { 8, 2, 0, 0, 0 })
        + png_chunk("IDAT", std::string("\x78\x9c\x03\x00\x00\x00\x00\x01", 8)) + png_chunk("IEND", "");
}

void write_text(const fs::path& path, const std::string& text)
{
    fs::create_directories(path.parent_path());
    std::vector<uint8_t> bytes(text.begin(), text.end());
    ASSERT_OK(write_atomically(path, bytes));
}

bool has_temporaries(const Scratch& scratch)
{
    for (const std::string& name : scratch.files())
        if (name.find(".pelimora") != std::string::npos)
            return true;
    return false;
}

// Starts a tool and returns once it holds its output's lock and has staged
// its first file.
pid_t start_writing(const std::vector<std::string>& argv)
{
    ProcessExit ended;
    pid_t pid = start_stopped_at("staged", argv, &ended);
    EXPECT_GT(pid, 0) << argv[0] << " ended with status " << ended.exit_status << " before it wrote";
    return pid;
}

// Lets a stopped tool go on and waits for it.
ProcessExit go_on(pid_t pid)
{
    kill(pid, SIGCONT);
    return wait_process(pid);
}

// Error lines, not notes.
std::vector<std::string> errors_of(const ToolRun& run)
{
    std::vector<std::string> lines;
    size_t at = 0;
    for (size_t end; (end = run.err.find('\n', at)) != std::string::npos; at = end + 1) {
        std::string line = run.err.substr(at, end - at);
        if (line.find(": note: ") == std::string::npos)
            lines.push_back(line);
    }
    return lines;
}

struct BadInput {
    std::string name;
    std::function<void(const Scratch&)> setup;
    std::string tool;
    std::vector<std::string> args; // "@" stands for the scratch directory
    std::string message; // part of the one error line
    ExitStatus status = ExitStatus::wrong_input;
    bool on_stdout = false; // a verdict printed with the report, not an error
};

void PrintTo(const BadInput& c, std::ostream* out)
{
    *out << c.name;
}

// A set made by encode (with its description), and the same frames without one.
void standard_inputs(const Scratch& s)
{
    write_art(s / "art", 3);
    ASSERT_EQ(s.run("pelimora-frames", { "encode", s / "art", "-o", s / "set" }).status, 0);
    std::map<int, Frame> raw;
    for (int n = 1; n <= 3; ++n)
        append_run(raw[n], W * H, uint16_t(0x1111 * n));
    ASSERT_TRUE(write_frame_files(s / "raw", raw));
}

void with_fifo(const Scratch& s)
{
    standard_inputs(s);
    fs::remove(s / "set" / frame_name(2));
    ASSERT_EQ(mkfifo((s / "set" / frame_name(2)).c_str(), 0644), 0);
    ASSERT_EQ(mkfifo((s / "fifo.png").c_str(), 0644), 0);
}

// The standard inputs and a panel description.
std::function<void(const Scratch&)> with_panel(const std::string& json)
{
    return [json](const Scratch& s) {
        standard_inputs(s);
        write_text(s / "panel.json", json);
    };
}

// The standard inputs, a damaged pelimora.json in the set and a bundle with a damaged index.
void damaged_descriptions(const Scratch& s)
{
    standard_inputs(s);
    write_text(s / "set" / "pelimora.json", "{\"xres\": 64, \"yres\":");
    write_text(s / "bundle" / "index.json", "{\"sets\": [");
}

// Two panel files for a bundle, the first named `name`.
std::function<void(const Scratch&)> with_named_panel(const std::string& name)
{
    return [name](const Scratch& s) {
        standard_inputs(s);
        write_text(s / "a.json",
            nlohmann::json { { "xres", 64 }, { "yres", 48 }, { "bits_per_pixel", 16 }, { "name", name } }
                .dump());
        write_text(s / "b.json", R"({"xres": 32, "yres": 24, "bits_per_pixel": 16})");
    };
}

BadInput bad_name(const char* test, const std::string& name, const std::string& shown)
{
    return { .name = test,
        .setup = with_named_panel(name),
        .tool = "pelimora-frames",
        .args = { "encode", "@/art", "--panel", "@/a.json", "--panel", "@/b.json", "-o", "@/bundle" },
        .message = "a.json: name " + shown,
        .status = ExitStatus::bad_command_line };
}

// Every option that takes a value, on every command, given an empty one: a
// script's unset variable is a wrong command line, never "not given".
std::vector<BadInput> empty_values()
{
    struct Command {
        std::string name, tool;
        std::vector<std::string> args, options;
    };
    const std::vector<std::string> screen
        = { "--size", "--depth", "--format", "--line-length", "--rotate", "--panel" };
    auto with = [&](std::vector<std::string> more) {
        more.insert(more.begin(), screen.begin(), screen.end());
        return more;
    };
    const Command commands[] = {
        { .name = "Encode",
            .tool = "pelimora-frames",
            .args = { "encode", "@/art.png", "-o", "@/n" },
            .options = with({ "--panels", "--fit", "--background", "--start", "--every", "--out" }) },
        { .name = "Logos",
            .tool = "pelimora-frames",
            .args = { "logos", "@/art.png", "-o", "@/n" },
            .options = with({ "--fit", "--background", "--start", "--out" }) },
        { .name = "Decode",
            .tool = "pelimora-frames",
            .args = { "decode", "@/Loop_1.rle", "-o", "@/x.png" },
            .options = with({ "--base", "--out" }) },
        { .name = "Preview",
            .tool = "pelimora-frames",
            .args = { "preview", "@/set", "-o", "@/p" },
            .options = with({ "--base", "--out" }) },
        { .name = "Check", .tool = "pelimora-frames", .args = { "check", "@/set" }, .options = screen },
        { .name = "Sample",
            .tool = "pelimora-frames",
            .args = { "sample", "--size", "64x48", "-o", "@/s" },
            .options = { "--size", "--out" } },
        { .name = "Vfb",
            .tool = "pelimora-vfb",
            .args = { "--frames", "@/set", "-o", "@/v" },
            .options = with({ "--frames", "--player", "--out" }) },
    };
    std::vector<BadInput> cases;
    for (const Command& command : commands) {
        for (const std::string& option : command.options) {
            std::string name = "EmptyValue" + command.name + option;
            std::erase(name, '-');
            std::vector<std::string> args = command.args; // without the option's own value
            auto given = std::find(args.begin(), args.end(), option == "--out" ? "-o" : option);
            if (given != args.end())
                args.erase(given, given + 2);
            args.insert(args.end(), { option, "" });
            cases.push_back({ .name = name,
                .setup = [](const Scratch&) {},
                .tool = command.tool,
                .args = args,
                .message = option + ": an empty value",
                .status = ExitStatus::bad_command_line });
        }
        std::vector<std::string> args = command.args; // the first positional given empty
        if (command.tool == "pelimora-frames" && command.name != "Sample") {
            args[1] = "";
            cases.push_back({ .name = "EmptyValue" + command.name + "Input",
                .setup = [](const Scratch&) {},
                .tool = command.tool,
                .args = args,
                .message = ": an empty value",
                .status = ExitStatus::bad_command_line });
        }
    }
    return cases;
}

std::vector<BadInput> bad_inputs()
{
    auto none = [](const Scratch& s) { standard_inputs(s); };
    return {
        bad_name("NameOfTheIndex", "index.json", "\"index.json\" is the name of a file"),
        bad_name("NameOfASetDescription", "pelimora.json", "\"pelimora.json\" is the name of a file"),
        bad_name("NameOfAFrame", "Loop_7.rle", "\"Loop_7.rle\" is the name of a file"),
        bad_name("HiddenName", ".hidden", "\".hidden\" cannot name"),
        bad_name("NameWithASeparator", "a/b", "\"a/b\" cannot name"),
        bad_name("NameWithANewline", "two\nlines", "\"two\\x0alines\" cannot name"),
        bad_name("NameTooLong", std::string(64, 'x'), "\"" + std::string(64, 'x') + "\" cannot name"),
        { .name = "DamagedDescriptionInCheck",
            .setup = damaged_descriptions,
            .tool = "pelimora-frames",
            .args = { "check", "@/set" },
            .message = "pelimora.json" },
        { .name = "DamagedDescriptionInPreview",
            .setup = damaged_descriptions,
            .tool = "pelimora-frames",
            .args = { "preview", "@/set", "-o", "@/p" },
            .message = "pelimora.json" },
        { .name = "DamagedDescriptionInDecode",
            .setup = damaged_descriptions,
            .tool = "pelimora-frames",
            .args = { "decode", "@/set/Loop_1.rle", "-o", "@/x.png" },
            .message = "pelimora.json" },
        { .name = "DamagedDescriptionInVfb",
            .setup = damaged_descriptions,
            .tool = "pelimora-vfb",
            .args = { "--frames", "@/set", "-o", "@/v" },
            .message = "pelimora.json" },
        { .name = "DamagedIndexInCheck",
            .setup = damaged_descriptions,
            .tool = "pelimora-frames",
            .args = { "check", "@/bundle" },
            .message = "index.json" },
        { .name = "DamagedIndexInPreview",
            .setup = damaged_descriptions,
            .tool = "pelimora-frames",
            .args = { "preview", "@/bundle", "-o", "@/p" },
            .message = "index.json" },
        { .name = "DamagedIndexInVfb",
            .setup = damaged_descriptions,
            .tool = "pelimora-vfb",
            .args = { "--frames", "@/bundle", "-o", "@/v" },
            .message = "index.json" },
        { .name = "PreviewWithoutAScreen",
            .setup = none,
            .tool = "pelimora-frames",
            .args = { "preview", "@/raw", "-o", "@/p" },
            .message = "which screen?",
            .status = ExitStatus::bad_command_line },
        { .name = "VfbWithoutAScreen",
            .setup = none,
            .tool = "pelimora-vfb",
            .args = { "--frames", "@/raw", "-o", "@/v" },
            .message = "which screen?",
            .status = ExitStatus::bad_command_line },
        { .name = "CheckWithoutAScreen",
            .setup = none,
            .tool = "pelimora-frames",
            .args = { "check", "@/raw" },
            .message = "which screen?",
            .status = ExitStatus::bad_command_line },
        { .name = "DecodeAFrameWithoutItsScreen",
            .setup = none,
            .tool = "pelimora-frames",
            .args = { "decode", "@/raw/Loop_1.rle", "-o", "@/x.png" },
            .message = "not for one frame file",
            .status = ExitStatus::bad_command_line },
        { .name = "WrongShape",
            .setup = none,
            .tool = "pelimora-frames",
            .args = { "check", "@/set", "--size", "48x64" },
            .message = "the set was made for 64x48, not for 48x64",
            .on_stdout = true },
        { .name = "SamePixelCountOtherShape",
            .setup = none,
            .tool = "pelimora-frames",
            .args = { "check", "@/set", "--size", "32x96" },
            .message = "the set was made for 64x48, not for 32x96",
            .on_stdout = true },
        { .name = "OutputIsTheInput",
            .setup = none,
            .tool = "pelimora-frames",
            .args = { "encode", "@/art/a1.png", "-o", "@/art/a1.png" },
            .message = "is the input picture" },
        { .name = "InputInTheSetsPlace",
            .setup =
                [](const Scratch& s) {
                    standard_inputs(s);
                    fs::copy_file(s / "art" / "a2.png", s / "set" / frame_name(2),
                        fs::copy_options::overwrite_existing);
                },
            .tool = "pelimora-frames",
            .args = { "encode", "@/art/a1.png", "@/set/Loop_2.rle", "-o", "@/set" },
            .message = "would replace it" },
        { .name = "FifoFrameInCheck",
            .setup = with_fifo,
            .tool = "pelimora-frames",
            .args = { "check", "@/set" },
            .message = "not a regular file",
            .on_stdout = true },
        { .name = "FifoFrameInPreview",
            .setup = with_fifo,
            .tool = "pelimora-frames",
            .args = { "preview", "@/set", "--depth", "16", "-o", "@/p" },
            .message = "FIFO: the player would hang" },
        { .name = "FifoFrameInDecode",
            .setup = with_fifo,
            .tool = "pelimora-frames",
            .args = { "decode", "@/set/Loop_2.rle", "--depth", "16", "-o", "@/x.png" },
            .message = "not a regular file but a FIFO" },
        { .name = "FifoFrameInVfb",
            .setup = with_fifo,
            .tool = "pelimora-vfb",
            .args = { "--frames", "@/set", "--depth", "16", "-o", "@/v" },
            .message = "FIFO: the player would hang" },
        { .name = "FifoImage",
            .setup = with_fifo,
            .tool = "pelimora-frames",
            .args = { "encode", "@/fifo.png", "-o", "@/x.rle" },
            .message = "fifo.png: not a regular file but a FIFO" },
        { .name = "DecodeADirectory",
            .setup = none,
            .tool = "pelimora-frames",
            .args = { "decode", "@/set", "--depth", "16", "-o", "@/x.png" },
            .message = "not a regular file but a directory" },
        { .name = "PictureOverTheLimit",
            .setup = [](const Scratch& s) { write_text(s / "huge.png", png_header_only(10000, 10000)); },
            .tool = "pelimora-frames",
            .args = { "encode", "@/huge.png", "-o", "@/x.rle" },
            .message = "10000x10000 is over the limit of" },
        // Within the pixels, but a decoder takes minutes over its millions of rows.
        { .name = "PictureTallerThanTheLimit",
            .setup = [](const Scratch& s) { write_text(s / "tall.png", png_header_only(12, 3866632)); },
            .tool = "pelimora-frames",
            .args = { "encode", "@/tall.png", "--fit", "none", "-o", "@/x.rle" },
            .message = "tall.png: 12x3866632 is over the limit of 16384 pixels a side" },
        { .name = "TruncatedPicture",
            .setup =
                [](const Scratch& s) {
                    standard_inputs(s);
                    write_text(s / "cut.png", slurp(s / "art" / "a1.png").substr(0, 80));
                },
            .tool = "pelimora-frames",
            .args = { "encode", "@/cut.png", "-o", "@/x.rle" },
            .message = "cut.png: a truncated PNG" },
        { .name = "TruncatedJpeg",
            .setup =
                [](const Scratch& s) {
                    ASSERT_EQ(make_clip(s / "whole.jpg",
                                  { "-f", "lavfi", "-i", "testsrc=s=64x48", "-frames:v", "1" }),
                        "");
                    std::string whole = slurp(s / "whole.jpg");
                    write_text(s / "photo.jpg", whole.substr(0, whole.size() * 2 / 3));
                },
            .tool = "pelimora-frames",
            .args = { "encode", "@/photo.jpg", "-o", "@/x.rle" },
            .message = "photo.jpg: VipsJpeg: Premature end" },
        { .name = "TruncatedVideo",
            .setup =
                [](const Scratch& s) {
                    ASSERT_EQ(make_clip(s / "whole.mp4",
                                  { "-f", "lavfi", "-i", "testsrc=s=64x48:d=0.5", "-c:v", "libx264" }),
                        "");
                    std::string whole = slurp(s / "whole.mp4");
                    write_text(s / "clip.mp4", whole.substr(0, whole.size() * 2 / 3));
                },
            .tool = "pelimora-frames",
            .args = { "encode", "@/clip.mp4", "--size", "64x48", "-o", "@/set" },
            .message = "clip.mp4: its streams cannot be read: damaged or truncated" },
        { .name = "NeitherPictureNorVideo",
            .setup = [](const Scratch& s) { write_text(s / "notes.png", "a shopping list, not a picture"); },
            .tool = "pelimora-frames",
            .args = { "encode", "@/notes.png", "-o", "@/x.rle" },
            .message = "notes.png: not a picture or video this tool reads" },
        { .name = "SvgReferringOutsideItself",
            .setup =
                [](const Scratch& s) {
                    write_text(s / "logo.svg",
                        R"(<svg xmlns="http://www.w3.org/2000/svg" xmlns:xlink="http://www.w3.org/1999/xlink" )"
                        R"(width="10" height="10"><image xlink:href="/etc/hostname" width="10" height="10"/></svg>)");
                },
            .tool = "pelimora-frames",
            .args = { "encode", "@/logo.svg", "--size", "64x48", "-o", "@/x.rle" },
            .message = "logo.svg: refers to a file outside itself" },
        { .name = "SvgWithoutAPanel",
            .setup =
                [](const Scratch& s) {
                    write_text(s / "logo.svg",
                        R"(<svg xmlns="http://www.w3.org/2000/svg" width="10" height="10"/>)");
                },
            .tool = "pelimora-frames",
            .args = { "encode", "@/logo.svg", "-o", "@/x.rle" },
            .message = "says nothing of the panel",
            .status = ExitStatus::bad_command_line },
        { .name = "VideoWithoutPictures",
            .setup =
                [](const Scratch& s) {
                    ASSERT_EQ(make_clip(s / "sound.mkv",
                                  { "-f", "lavfi", "-i", "sine=d=0.2", "-c:a", "pcm_s16le" }),
                        "");
                },
            .tool = "pelimora-frames",
            .args = { "encode", "@/sound.mkv", "--size", "64x48", "-o", "@/set" },
            .message = "sound.mkv: has no video stream" },
        { .name = "StartPastTheEnd",
            .setup =
                [](const Scratch& s) {
                    ASSERT_EQ(make_clip(s / "clip.mkv",
                                  { "-f", "lavfi", "-i", "color=red:s=32x24:d=0.2:r=25", "-c:v", "ffv1" }),
                        "");
                },
            .tool = "pelimora-frames",
            .args = { "encode", "@/clip.mkv", "--size", "64x48", "--start", "5", "-o", "@/set" },
            .message = "--start 5.000 s is past its end at 0.200 s" },
        { .name = "AnimationAmongStills",
            .setup =
                [](const Scratch& s) {
                    standard_inputs(s);
                    ASSERT_EQ(
                        make_clip(s / "anim.gif", { "-f", "lavfi", "-i", "testsrc=s=32x24:d=0.2:r=10" }), "");
                },
            .tool = "pelimora-frames",
            .args = { "encode", "@/art/a1.png", "@/anim.gif", "-o", "@/set" },
            .message = "give it alone" },
        { .name = "UnknownFit",
            .setup = none,
            .tool = "pelimora-frames",
            .args = { "encode", "@/art", "-o", "@/n", "--fit", "stretch" },
            .message = "expected contain, cover, fill or none",
            .status = ExitStatus::bad_command_line },
        { .name = "BeyondTheWebPLimit",
            .setup = none,
            .tool = "pelimora-frames",
            .args = { "preview", "@/set", "--size", "16384x1", "--depth", "16", "-o", "@/p" },
            .message = "at most 16383" },
        { .name = "BeyondWhatThePlayerMaps",
            .setup = none,
            .tool = "pelimora-frames",
            .args = { "check", "@/set", "--size", "16384x16384" },
            .message = "more than the player can map",
            .status = ExitStatus::bad_command_line },
        { .name = "SizeOverflow",
            .setup = none,
            .tool = "pelimora-frames",
            .args = { "check", "@/set", "--size", "4294967297x480" },
            .message = "expected WIDTHxHEIGHT",
            .status = ExitStatus::bad_command_line },
        { .name = "SizeWithASign",
            .setup = none,
            .tool = "pelimora-frames",
            .args = { "check", "@/set", "--size", "+64x48" },
            .message = "expected WIDTHxHEIGHT",
            .status = ExitStatus::bad_command_line },
        { .name = "SizeWithSpace",
            .setup = none,
            .tool = "pelimora-frames",
            .args = { "check", "@/set", "--size", " 64x48" },
            .message = "expected WIDTHxHEIGHT",
            .status = ExitStatus::bad_command_line },
        { .name = "DepthInHex",
            .setup = none,
            .tool = "pelimora-frames",
            .args = { "check", "@/set", "--depth", "0x10" },
            .message = "expected 16 or 32",
            .status = ExitStatus::bad_command_line },
        { .name = "NegativeColour",
            .setup = none,
            .tool = "pelimora-frames",
            .args = { "encode", "@/art", "-o", "@/n", "--background", "-12345" },
            .message = "expected six hexadecimal digits",
            .status = ExitStatus::bad_command_line },
        { .name = "HexPrefixedColour",
            .setup = none,
            .tool = "pelimora-frames",
            .args = { "encode", "@/art", "-o", "@/n", "--background", "0x1234" },
            .message = "expected six hexadecimal digits",
            .status = ExitStatus::bad_command_line },
        { .name = "SpacedColour",
            .setup = none,
            .tool = "pelimora-frames",
            .args = { "encode", "@/art", "-o", "@/n", "--background", " 12345" },
            .message = "expected six hexadecimal digits",
            .status = ExitStatus::bad_command_line },
        { .name = "UnknownFormat",
            .setup = none,
            .tool = "pelimora-frames",
            .args = { "check", "@/set", "--format", "RGB888" },
            .message = "expected one of RGB565",
            .status = ExitStatus::bad_command_line },
        { .name = "FormatAndDepthDisagree",
            .setup = none,
            .tool = "pelimora-frames",
            .args = { "check", "@/set", "--format", "XRGB8888", "--depth", "16" },
            .message = "XRGB8888 is 32 bpp, not 16",
            .status = ExitStatus::bad_command_line },
        { .name = "LineOfPartPixels",
            .setup = none,
            .tool = "pelimora-frames",
            .args = { "check", "@/set", "--depth", "16", "--line-length", "129" },
            .message = "in whole pixels",
            .status = ExitStatus::bad_command_line },
        { .name = "LineShorterThanARow",
            .setup = none,
            .tool = "pelimora-frames",
            .args = { "check", "@/set", "--depth", "16", "--line-length", "100" },
            .message = "takes 128 bytes",
            .status = ExitStatus::bad_command_line },
        { .name = "LineLengthNotANumber",
            .setup = none,
            .tool = "pelimora-frames",
            .args = { "check", "@/set", "--line-length", "0x80" },
            .message = "expected a number of bytes",
            .status = ExitStatus::bad_command_line },
        { .name = "PanelNotAnObject",
            .setup = with_panel("[64, 48]"),
            .tool = "pelimora-frames",
            .args = { "check", "@/set", "--panel", "@/panel.json" },
            .message = "not a JSON object",
            .status = ExitStatus::bad_command_line },
        { .name = "PanelWithoutASize",
            .setup = with_panel(R"({"xres": 64})"),
            .tool = "pelimora-frames",
            .args = { "check", "@/set", "--panel", "@/panel.json" },
            .message = "expected xres and yres",
            .status = ExitStatus::bad_command_line },
        { .name = "PanelSizeAsText",
            .setup = with_panel(R"({"xres": "64", "yres": 48})"),
            .tool = "pelimora-frames",
            .args = { "check", "@/set", "--panel", "@/panel.json" },
            .message = "expected xres and yres",
            .status = ExitStatus::bad_command_line },
        { .name = "ProbeReportOfAnUnknownFormat",
            .setup = with_panel(R"({"xres": 64, "yres": 48, "bits_per_pixel": 32, "format": "unknown",
                "red": {"offset": 8, "length": 8}, "green": {"offset": 16, "length": 8},
                "blue": {"offset": 0, "length": 8}})"),
            .tool = "pelimora-frames",
            .args = { "check", "@/set", "--panel", "@/panel.json" },
            .message = "none of the formats",
            .status = ExitStatus::bad_command_line },
        { .name = "ProbeReportWithoutAScreen",
            .setup = with_panel(
                R"({"device": "/dev/graphics/fb0", "error": "cannot open: No such file or directory"})"),
            .tool = "pelimora-frames",
            .args = { "check", "@/set", "--panel", "@/panel.json" },
            .message = "the probe could not use the screen: cannot open: No such file or directory",
            .status = ExitStatus::bad_command_line },
        { .name = "ClipCutShort",
            .setup =
                [](const Scratch& s) {
                    ASSERT_EQ(make_clip(s / "whole.mp4",
                                  { "-f", "lavfi", "-i", "testsrc2=s=320x240:d=3:r=25", "-c:v", "libx264",
                                      "-b:v", "2M", "-movflags", "+faststart" }),
                        "");
                    std::string whole = slurp(s / "whole.mp4");
                    write_text(s / "clip.mp4", whole.substr(0, whole.size() / 3));
                },
            .tool = "pelimora-frames",
            .args = { "encode", "@/clip.mp4", "--size", "64x48", "--spread", "-o", "@/set" },
            .message = "clip.mp4: damaged or cut: its frames end at" },
        { .name = "WebmCutShort",
            .setup =
                [](const Scratch& s) {
                    ASSERT_EQ(make_clip(s / "whole.webm",
                                  { "-f", "lavfi", "-i", "testsrc2=s=160x120:d=3:r=25", "-c:v", "libvpx",
                                      "-b:v", "1M" }),
                        "");
                    std::string whole = slurp(s / "whole.webm");
                    write_text(s / "clip.webm", whole.substr(0, whole.size() / 4));
                },
            .tool = "pelimora-frames",
            .args = { "encode", "@/clip.webm", "--size", "64x48", "--every", "100", "-o", "@/set" },
            .message = "though its header says it plays 3.000 s; --allow-short" },
        { .name = "Mp4CutBeforeItsIndex",
            .setup =
                [](const Scratch& s) {
                    ASSERT_EQ(make_clip(s / "whole.mp4",
                                  { "-f", "lavfi", "-i", "testsrc2=s=320x240:d=2:r=25", "-c:v", "libx264" }),
                        "");
                    std::string whole = slurp(s / "whole.mp4");
                    write_text(s / "clip.mp4", whole.substr(0, whole.size() / 2));
                },
            .tool = "pelimora-frames",
            .args = { "encode", "@/clip.mp4", "--size", "64x48", "-o", "@/set" },
            .message = "clip.mp4: a damaged or cut QuickTime / MOV file" },
        { .name = "SvgOfAVastDeclaredSize",
            .setup =
                [](const Scratch& s) {
                    write_text(s / "vast.svg",
                        R"(<svg xmlns="http://www.w3.org/2000/svg" width="1e9" height="1e9" viewBox="0 0 8 8"/>)");
                },
            .tool = "pelimora-frames",
            .args = { "encode", "@/vast.svg", "--size", "48x80", "-o", "@/x.rle" },
            .message = "vast.svg: declares a width or height over the 10000000 pixels" },
        { .name = "SetIntoAFrameFileName",
            .setup = none,
            .tool = "pelimora-frames",
            .args = { "encode", "@/art", "-o", "@/frames.rle" },
            .message = "frames.rle: names one frame file, but the 3 pictures make a set of 40 frames",
            .status = ExitStatus::bad_command_line },
        { .name = "PreviewIntoTheSet",
            .setup = none,
            .tool = "pelimora-frames",
            .args = { "preview", "@/set", "-o", "@/set/preview" },
            .message = "is in the set",
            .status = ExitStatus::bad_command_line },
        { .name = "PreviewOverTheSet",
            .setup = none,
            .tool = "pelimora-frames",
            .args = { "preview", "@/set", "-o", "@/set" },
            .message = "is in the set",
            .status = ExitStatus::bad_command_line },
        { .name = "VfbIntoTheSet",
            .setup = none,
            .tool = "pelimora-vfb",
            .args = { "--frames", "@/set", "-o", "@/set/device" },
            .message = "is in the set",
            .status = ExitStatus::bad_command_line },
        { .name = "LineLengthBeyondAnyPanel",
            .setup = none,
            .tool = "pelimora-frames",
            .args
            = { "decode", "@/set/Loop_1.rle", "--depth", "16", "--line-length", "4096000", "-o", "@/x.png" },
            .message = "--line-length '4096000': expected a number of bytes, 1 to 65536",
            .status = ExitStatus::bad_command_line },
        { .name = "PanelLineLengthBeyondAnyPanel",
            .setup = with_panel(R"({"xres": 64, "yres": 48, "bits_per_pixel": 16, "line_length": 4096000})"),
            .tool = "pelimora-frames",
            .args = { "check", "@/set", "--panel", "@/panel.json" },
            .message = "panel.json: line_length must be a number of bytes, at most 65536",
            .status = ExitStatus::bad_command_line },
        { .name = "PanelKeyTwice",
            .setup = with_panel(R"({"xres": 64, "yres": 48, "xres": 32})"),
            .tool = "pelimora-frames",
            .args = { "check", "@/set", "--panel", "@/panel.json" },
            .message = "panel.json: key \"xres\" is given twice",
            .status = ExitStatus::bad_command_line },
        { .name = "PanelNestedKeyTwice",
            .setup
            = with_panel(R"({"xres": 64, "yres": 48, "bits_per_pixel": 32, "red": {"offset": 0, "offset": 16,
                "length": 8}, "green": {"offset": 8, "length": 8}, "blue": {"offset": 16, "length": 8}})"),
            .tool = "pelimora-frames",
            .args = { "check", "@/set", "--panel", "@/panel.json" },
            .message = "key \"offset\" is given twice",
            .status = ExitStatus::bad_command_line },
        { .name = "PanelWithSomethingAfter",
            .setup = with_panel(R"({"xres": 64, "yres": 48} {"xres": 32})"),
            .tool = "pelimora-frames",
            .args = { "check", "@/set", "--panel", "@/panel.json" },
            .message = "something follows the object",
            .status = ExitStatus::bad_command_line },
        { .name = "PanelWithANul",
            .setup = with_panel(std::string(R"({"xres": 64, "yres": 48})") + '\0' + "junk"),
            .tool = "pelimora-frames",
            .args = { "check", "@/set", "--panel", "@/panel.json" },
            .message = "it holds a NUL byte",
            .status = ExitStatus::bad_command_line },
        { .name = "PanelFormatAgainstItsChannels",
            .setup = with_panel(R"({"xres": 64, "yres": 48, "bits_per_pixel": 32, "format": "XRGB8888",
                "red": {"offset": 0, "length": 8}, "green": {"offset": 8, "length": 8},
                "blue": {"offset": 16, "length": 8}})"),
            .tool = "pelimora-frames",
            .args = { "check", "@/set", "--panel", "@/panel.json" },
            .message = "\"format\" XRGB8888 contradicts its channel offsets, which are XBGR8888",
            .status = ExitStatus::bad_command_line },
        { .name = "PanelFarTooLarge",
            .setup = with_panel(R"({"xres": 64, "yres": 48, "notes": ")" + std::string(2 << 20, 'x') + "\"}"),
            .tool = "pelimora-frames",
            .args = { "check", "@/set", "--panel", "@/panel.json" },
            .message = "panel.json: over 1 MiB, far more than a panel or set description holds",
            .status = ExitStatus::bad_command_line },
        { .name = "LogosWithoutAScreen",
            .setup = none,
            .tool = "pelimora-frames",
            .args = { "logos", "@/art/a1.png", "-o", "@/logos" },
            .message = "which screen?",
            .status = ExitStatus::bad_command_line },
        { .name = "RotateNotAQuarterTurn",
            .setup = none,
            .tool = "pelimora-frames",
            .args = { "encode", "@/art", "--size", "64x48", "--rotate", "45", "-o", "@/turned" },
            .message = "--rotate '45': expected 0, 90, 180 or 270 (degrees clockwise)",
            .status = ExitStatus::bad_command_line },
        { .name = "PanelRotateNotAQuarterTurn",
            .setup = with_panel(R"({"xres": 64, "yres": 48, "rotate": 91})"),
            .tool = "pelimora-frames",
            .args = { "check", "@/set", "--panel", "@/panel.json" },
            .message = "panel.json: rotate must be 0, 90, 180 or 270 (degrees clockwise)",
            .status = ExitStatus::bad_command_line },
        { .name = "PanelOfUnknownChannels",
            .setup
            = with_panel(R"({"xres": 64, "yres": 48, "bits_per_pixel": 32, "red": {"offset": 8, "length": 8},
                "green": {"offset": 16, "length": 8}, "blue": {"offset": 0, "length": 8}})"),
            .tool = "pelimora-frames",
            .args = { "check", "@/set", "--panel", "@/panel.json" },
            .message = "none of the formats",
            .status = ExitStatus::bad_command_line },
    };
}

class ToolsRefuse : public testing::TestWithParam<BadInput> { };

TEST_P(ToolsRefuse, WithOneLineAndNothingChanged)
{
    REQUIRE_DEVICE_SANDBOX();
    const BadInput& c = GetParam();
    Scratch scratch;
    c.setup(scratch);
    std::vector<std::string> args;
    for (std::string arg : c.args) {
        if (arg.starts_with("@"))
            arg = scratch.path().string() + arg.substr(1);
        args.push_back(arg);
    }
    auto before = scratch.contents();
    ToolRun run = scratch.run(c.tool, args);
    EXPECT_EQ(run.status, int(c.status)) << run.err;
    EXPECT_EQ(run.signal, 0);
    if (c.on_stdout) {
        EXPECT_NE(run.out.find(c.message), std::string::npos) << run.out;
    } else {
        auto errors = errors_of(run);
        ASSERT_EQ(errors.size(), 1u) << run.err;
        EXPECT_TRUE(errors[0].starts_with(c.tool + ": ")) << errors[0];
        EXPECT_NE(errors[0].find(c.message), std::string::npos) << errors[0];
        EXPECT_EQ(errors[0].find("std::"), std::string::npos) << errors[0];
    }
    EXPECT_EQ(scratch.contents(), before);
    EXPECT_FALSE(has_temporaries(scratch));
}

INSTANTIATE_TEST_SUITE_P(Matrix, ToolsRefuse, testing::ValuesIn(bad_inputs()),
    [](const testing::TestParamInfo<BadInput>& info) { return info.param.name; });
INSTANTIATE_TEST_SUITE_P(EmptyValues, ToolsRefuse, testing::ValuesIn(empty_values()),
    [](const testing::TestParamInfo<BadInput>& info) { return info.param.name; });

TEST(ToolsMatrix, EncodeOnAFullFileSystemLeavesTheOldSet)
{
    REQUIRE_DEVICE_SANDBOX();
    Scratch scratch;
    fs::create_directories(scratch / "small");
    if (mount("pelimora-small", (scratch / "small").c_str(), "tmpfs", 0, "size=256k") != 0)
        GTEST_SKIP() << "cannot mount a small tmpfs here";
    write_art(scratch / "old", 2);
    write_art(scratch / "big", 12, 160, 120, true); // about 75 KB a frame: three fit
    ASSERT_EQ(
        scratch.run("pelimora-frames", { "encode", scratch / "old", "-o", scratch / "small" / "frames" })
            .status,
        0);
    auto before = scratch.contents();
    ToolRun run
        = scratch.run("pelimora-frames", { "encode", scratch / "big", "-o", scratch / "small" / "frames" });
    EXPECT_EQ(run.status, 1);
    auto errors = errors_of(run);
    ASSERT_EQ(errors.size(), 1u) << run.err;
    EXPECT_NE(errors[0].find("No space left on device"), std::string::npos) << errors[0];
    EXPECT_EQ(errors[0].find(".pelimora"), std::string::npos) << "a temporary name in " << errors[0];
    EXPECT_EQ(scratch.contents(), before);
    EXPECT_FALSE(has_temporaries(scratch));
    umount((scratch / "small").c_str());
}

// A tool run by a user, not root: as nobody when the tests run as root
// (whose writes no folder's mode stops), with the scratch made theirs.
ToolRun run_as_user(
    const Scratch& scratch, const std::string& tool, std::vector<std::string> args, bool make_theirs = true)
{
    SpawnRequest request;
    request.argv = std::move(args);
    request.argv.insert(request.argv.begin(), tool_path(tool));
    if (getuid() == 0) {
        for (const auto& entry : fs::recursive_directory_iterator(scratch.path()))
            EXPECT_TRUE(!make_theirs || lchown(entry.path().c_str(), 65534, 65534) == 0) << entry.path();
        EXPECT_EQ(chown(scratch.path().c_str(), 65534, 65534), 0);
        request.argv.insert(
            request.argv.begin(), { "setpriv", "--reuid=65534", "--regid=65534", "--clear-groups" });
        request.search_path = true;
    }
    ProcessRun process = run_process(request, true);
    return { process.exit_status, process.term_signal, process.out, process.err };
}

// An output folder its owner made read-only is refused before any work, in
// one line, and left as it was; old contents made read-only inside a
// folder that is replaced go with it. No hidden copy is ever left behind.
TEST(ToolsMatrix, AReadOnlyOutputIsRefusedAndNoOldContentsLinger)
{
    REQUIRE_DEVICE_SANDBOX();
    Scratch scratch;
    write_art(scratch / "art", 3);
    write_text(scratch / "a.json", R"({"xres": 64, "yres": 48, "bits_per_pixel": 16, "name": "a"})");
    write_text(scratch / "b.json", R"({"xres": 32, "yres": 24, "bits_per_pixel": 16, "name": "b"})");
    const std::string art = scratch / "art", picture = scratch / "art" / "a1.png";
    const std::vector<std::string> panel = { "--size", "64x48", "--depth", "16" };
    const std::vector<std::pair<std::string, std::vector<std::string>>> outputs = {
        { "logos", { "logos", picture, "-o", scratch / "logos" } },
        { "set", { "encode", art, "-o", scratch / "set" } },
    };
    for (auto [name, args] : outputs) {
        SCOPED_TRACE(name);
        args.insert(args.end(), panel.begin(), panel.end());
        ToolRun first = run_as_user(scratch, "pelimora-frames", args);
        ASSERT_EQ(first.status, 0) << first.err;
        ASSERT_EQ(chmod((scratch / name).c_str(), 0555), 0);
        auto before = scratch.contents();
        ToolRun again = run_as_user(scratch, "pelimora-frames", args);
        EXPECT_EQ(again.status, int(ExitStatus::wrong_input)) << again.err;
        EXPECT_EQ(again.err,
            "pelimora-frames: " + (scratch / name).string() + ": cannot write in it: Permission denied\n");
        EXPECT_EQ(scratch.contents(), before);
        EXPECT_FALSE(has_temporaries(scratch));
    }
    const std::vector<std::string> bundle = { "encode", art, "--panel", scratch / "a.json", "--panel",
        scratch / "b.json", "-o", scratch / "bundle" };
    ToolRun first = run_as_user(scratch, "pelimora-frames", bundle);
    ASSERT_EQ(first.status, 0) << first.err;
    for (const char* set : { "a", "b" })
        ASSERT_EQ(chmod((scratch / "bundle" / set).c_str(), 0555), 0);
    ToolRun again = run_as_user(scratch, "pelimora-frames", bundle);
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_FALSE(has_temporaries(scratch));
    struct stat info;
    ASSERT_EQ(stat((scratch / "bundle" / "a").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0755u) << "a set made anew has a new folder's mode";
    // Old contents the user may not remove (root's, in a folder of theirs):
    // the new ones go in, and the tool names what is left and exits 1.
    if (getuid() != 0)
        return;
    ASSERT_EQ(chown((scratch / "bundle" / "a").c_str(), 0, 0), 0);
    ASSERT_EQ(chmod((scratch / "bundle" / "a").c_str(), 0555), 0);
    ToolRun stuck = run_as_user(scratch, "pelimora-frames", bundle, false);
    EXPECT_EQ(stuck.status, int(ExitStatus::wrong_input)) << stuck.err;
    EXPECT_NE(stuck.err.find("the new contents are in place, but the old ones are left: "), std::string::npos)
        << stuck.err;
    EXPECT_NE(stuck.err.find("Permission denied"), std::string::npos) << stuck.err;
}

TEST(ToolsMatrix, EncodeInterruptedLeavesTheOldSet)
{
    Scratch scratch;
    write_art(scratch / "old", 2);
    write_art(scratch / "big", 4);
    ASSERT_EQ(
        scratch.run("pelimora-frames", { "encode", scratch / "old", "-o", scratch / "frames" }).status, 0);
    auto before = scratch.contents();
    for (int signal : { SIGINT, SIGTERM, SIGHUP }) {
        // Interrupted once the new set has begun to appear beside the old one.
        pid_t pid
            = start_writing({ "pelimora-frames", "encode", scratch / "big", "-o", scratch / "frames", "-q" });
        ASSERT_GT(pid, 0);
        kill(pid, signal);
        ProcessExit exit = go_on(pid);
        EXPECT_EQ(exit.term_signal, signal) << "exit status " << exit.exit_status;
        EXPECT_EQ(scratch.contents(), before);
        EXPECT_FALSE(has_temporaries(scratch));
    }
}

TEST(ToolsMatrix, VfbKeepsItsScratchInsideTheOutputAndRemovesIt)
{
    REQUIRE_DEVICE_SANDBOX();
    Scratch scratch;
    write_art(scratch / "art", 3);
    ASSERT_EQ(
        scratch.run("pelimora-frames", { "encode", scratch / "art", "--depth", "32", "-o", scratch / "set" })
            .status,
        0);
    ToolRun run = scratch.run("pelimora-vfb", { "--frames", scratch / "set", "-o", scratch / "device" });
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("40 of 40 frames drawn"), std::string::npos) << run.out;
    EXPECT_TRUE(fs::exists(scratch / "device" / "animation.webp"));
    EXPECT_FALSE(has_temporaries(scratch));

    // Interrupted once it has begun to write: no capture is left behind.
    pid_t pid = start_writing({ "pelimora-vfb", "--frames", scratch / "set", "-o", scratch / "stopped" });
    ASSERT_GT(pid, 0);
    kill(pid, SIGINT);
    EXPECT_EQ(go_on(pid).term_signal, SIGINT);
    EXPECT_FALSE(has_temporaries(scratch));
    EXPECT_FALSE(fs::exists(scratch / "stopped"));

    // Captures that cannot fit are refused before the player runs.
    fs::create_directories(scratch / "small");
    if (mount("pelimora-small", (scratch / "small").c_str(), "tmpfs", 0, "size=1m") != 0)
        GTEST_SKIP() << "cannot mount a small tmpfs here";
    run = scratch.run("pelimora-vfb",
        { "--frames", scratch / "set", "--size", "1024x768", "--depth", "32", "-o",
            scratch / "small" / "out" });
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("MB are free"), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(scratch / "small" / "out"));
    umount((scratch / "small").c_str());
}

TEST(ToolsMatrix, AFrameFileIsReadOnlyAsFarAsThePlayerReadsIt)
{
    Scratch scratch;
    std::map<int, Frame> frames;
    append_run(frames[1], W * H, 0x1234);
    ASSERT_TRUE(write_frame_files(scratch / "set", frames));
    // 4 GiB and 4 bytes, sparse: the player maps the size's low 32 bits, one record.
    ASSERT_EQ(truncate((scratch / "set" / frame_name(1)).c_str(), (off_t(1) << 32) + 4), 0);
    SpawnRequest request;
    request.argv = { tool_path("pelimora-frames"), "check", scratch / "set", "--size", "64x48" };
    ProcessRun run = run_process(request, true);
    // Counted, not timed: a read of the whole file would take 4 GiB of memory.
    EXPECT_LT(run.peak_kib, 256 * 1024);
    EXPECT_NE(run.out.find(frame_name(1) + "          1        0         0  exact"), std::string::npos)
        << run.out;
}

TEST(ToolsMatrix, FileSelectionAsAPersonExpects)
{
    Scratch scratch;
    fs::create_directories(scratch / "art");
    const char* names[] = { "é.png", "9.png", "10.png", "E2.png", "b.png", "A.png" };
    int n = 0;
    for (const char* name : names)
        ASSERT_OK(write_png_rgb(scratch / "art" / name, W, H, picture(++n, W, H)));
    write_text(scratch / "art" / "._9.png", "resource fork, not a picture");
    write_text(scratch / "art" / "notes.txt", "not a picture");
    ToolRun run = scratch.run("pelimora-frames", { "encode", scratch / "art", "-o", scratch / "set" });
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("skipping 1 that are not pictures: notes.txt"), std::string::npos) << run.err;
    std::vector<std::string> order;
    for (const char* name : { "9.png", "10.png", "A.png", "b.png", "E2.png", "é.png" })
        order.push_back(name);
    size_t at = 0;
    for (const std::string& name : order) {
        size_t found = run.out.find("<- " + name, at);
        EXPECT_NE(found, std::string::npos) << name << " out of order in\n" << run.out;
        at = found == std::string::npos ? at : found;
    }

    // Names a user meant to be played, which the player never opens.
    for (const char* lookalike : { "Loop_01.rle", "loop_9.rle", "Loop_0.rle", "Loop_43.rle" })
        fs::copy_file(scratch / "set" / frame_name(1), scratch / "set" / lookalike);
    ToolRun check = scratch.run("pelimora-frames", { "check", scratch / "set" });
    for (const char* lookalike : { "Loop_01.rle", "loop_9.rle", "Loop_0.rle", "Loop_43.rle" })
        EXPECT_NE(
            check.out.find(std::string("warning: ") + lookalike + " is never played"), std::string::npos)
            << lookalike << "\n"
            << check.out;
}

TEST(ToolsMatrix, EncodeStopsAtTheFramesThePlayerShows)
{
    Scratch scratch;
    write_art(scratch / "art", FRAME_COUNT + 3, 8, 8);
    write_art(scratch / "few", 2, 8, 8);
    ASSERT_EQ(scratch.run("pelimora-frames", { "encode", scratch / "art", "-o", scratch / "set" }).status, 0);
    ToolRun run = scratch.run("pelimora-frames", { "encode", scratch / "art", "-o", scratch / "set" });
    EXPECT_NE(
        run.err.find("3 pictures after a40.png are not used: a41.png, a42.png, a43.png"), std::string::npos)
        << run.err;
    EXPECT_FALSE(fs::exists(scratch / "set" / frame_name(FRAME_COUNT + 1)));
    // A smaller set replaces the whole of the old one: its last picture is held.
    run = scratch.run("pelimora-frames", { "encode", scratch / "few", "-o", scratch / "set" });
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(slurp(scratch / "set" / frame_name(3)).size(), 1u);
}

TEST(ToolsMatrix, ReportsAreTrueToTheNumbers)
{
    Scratch scratch;
    write_art(scratch / "noise", 1, 16, 16, true);
    ToolRun run
        = scratch.run("pelimora-frames", { "encode", scratch / "noise" / "a1.png", "-o", scratch / "n.rle" });
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("2.0x LARGER than raw RGB565"), std::string::npos) << run.out;
    // On a pipe there is no progress line, only the summary.
    EXPECT_EQ(run.err.find('\r'), std::string::npos);
    // One image into an existing directory makes a set of one there.
    fs::create_directories(scratch / "dir");
    run = scratch.run("pelimora-frames", { "encode", scratch / "noise" / "a1.png", "-o", scratch / "dir" });
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(fs::exists(scratch / "dir" / frame_name(1)));
    EXPECT_TRUE(fs::exists(scratch / "dir" / SET_DESCRIPTION_FILE));
}

// Screens far wider than tall once read past the contact sheet's buffers.
TEST(ToolsMatrix, PreviewOfThinScreens)
{
    Scratch scratch;
    for (const char* size : { "320x1", "1920x5", "16383x2" }) {
        // Red over the first half of the stream, then blue over a third of
        // what is left: the rest stays black, on any shape of screen.
        ScreenGeometry geometry;
        ASSERT_OK(parse_screen_size(size, &geometry));
        const size_t red = geometry.pixels() / 2, blue = (geometry.pixels() - red) / 3;
        std::map<int, Frame> frames;
        append_run(frames[1], uint16_t(red), 0xF800);
        append_run(frames[2], uint16_t(red), 0xF800);
        append_run(frames[2], uint16_t(blue), 0x001F);
        ASSERT_TRUE(write_frame_files(scratch / size, frames));
        ToolRun run = scratch.run("pelimora-frames",
            { "preview", scratch / size, "--size", size, "--depth", "16", "-o", scratch / "p" });
        ASSERT_EQ(run.status, 0) << size << ": " << run.err;
        std::vector<int> ends;
        std::vector<std::vector<uint8_t>> shown = webp_frames(scratch / "p" / "animation.webp", &ends);
        ASSERT_EQ(shown.size(), size_t(2)) << size << ": frames 2 to 40 leave the screen as it was";
        for (size_t i = 0; i < geometry.pixels(); i += std::max<size_t>(1, geometry.pixels() / 97)) {
            std::vector<uint8_t> expected = i < red ? std::vector<uint8_t> { 255, 0, 0 }
                : i < red + blue                    ? std::vector<uint8_t> { 0, 0, 255 }
                                                    : std::vector<uint8_t> { 0, 0, 0 };
            ASSERT_EQ(std::vector<uint8_t>(&shown[1][i * 3], &shown[1][i * 3 + 3]), expected)
                << size << " pixel " << i;
            if (i >= red) {
                ASSERT_EQ(shown[0][i * 3 + 2], 0) << size << ": frame 1 drew no blue at pixel " << i;
            }
        }
        EXPECT_TRUE(fs::exists(scratch / "p" / "contact-sheet.png")) << size;
    }
}

// The preview of a panel that does not match the frames shows what the
// virtual framebuffer of that panel shows when the real player draws them.
TEST(ToolsMatrix, PreviewOfAMismatchedPanelIsWhatThePanelShows)
{
    REQUIRE_DEVICE_SANDBOX();
    Scratch scratch;
    write_art(scratch / "art", FRAME_COUNT);
    ASSERT_EQ(
        scratch.run("pelimora-frames", { "encode", scratch / "art", "--depth", "16", "-o", scratch / "set" })
            .status,
        0);
    for (std::vector<std::string> panel : { std::vector<std::string> { "--format", "BGR565" },
             { "--line-length", "192" }, { "--format", "XRGB1555", "--line-length", "142" },
             { "--format", "XRGB8888", "--line-length", "320" } }) {
        std::string name = panel[1];
        std::vector<std::string> preview = { "preview", scratch / "set", "-o", scratch / ("preview" + name) };
        std::vector<std::string> vfb = { "--frames", scratch / "set", "-o", scratch / ("device" + name) };
        preview.insert(preview.end(), panel.begin(), panel.end());
        vfb.insert(vfb.end(), panel.begin(), panel.end());
        ToolRun previewed = scratch.run("pelimora-frames", preview);
        ASSERT_EQ(previewed.status, 0) << previewed.err;
        EXPECT_NE(previewed.err.find("note: "), std::string::npos) << "no word of the mismatch";
        ToolRun played = scratch.run("pelimora-vfb", vfb);
        ASSERT_EQ(played.status, 0) << played.err;
        EXPECT_EQ(slurp(scratch / ("preview" + name) / "animation.webp"),
            slurp(scratch / ("device" + name) / "animation.webp"))
            << name;
    }

    // Frames of pure red, made for the player's format, on a panel that reads blue there.
    std::map<int, Frame> red;
    append_run(red[1], W * H, 0xF800);
    ASSERT_TRUE(write_frame_files(scratch / "red", red));
    ToolRun decoded = scratch.run("pelimora-frames",
        { "decode", scratch / "red" / frame_name(1), "--size", "64x48", "--format", "BGR565", "-o",
            scratch / "red.png" });
    ASSERT_EQ(decoded.status, 0) << decoded.err;
    RgbaImage shown;
    ASSERT_OK(read_picture(scratch / "red.png", 0, 0, &shown));
    EXPECT_EQ(std::vector<uint8_t>(shown.rgba.begin(), shown.rgba.begin() + 4),
        (std::vector<uint8_t> { 0, 0, 0xFF, 0xFF }));

    // Flags over the panel file over the set's description.
    write_text(
        scratch / "panel.json", R"({"xres": 32, "yres": 96, "bits_per_pixel": 16, "format": "RGB565"})");
    EXPECT_EQ(scratch.run("pelimora-frames", { "check", scratch / "set", "--panel", scratch / "panel.json" })
                  .status,
        1);
    EXPECT_EQ(scratch
                  .run("pelimora-frames",
                      { "check", scratch / "set", "--panel", scratch / "panel.json", "--size", "64x48" })
                  .status,
        0);
}

} // namespace

namespace {

// Frames made by encode for a panel look like the artwork on that panel when
// the real player draws them: the memory read through the panel's format and
// lines equals the artwork at the precision the panel keeps, on every row
// the player's stream reaches in full; the others are the ones encode names.
class PanelFrames : public testing::TestWithParam<std::tuple<const char*, int>> { };

TEST_P(PanelFrames, ShowTheArtworkOnThatPanel)
{
    REQUIRE_DEVICE_SANDBOX();
    const auto& [format_name, extra] = GetParam();
    const PixelFormat& format = *find_format(format_name);
    const uint32_t bytes_per_pixel = format.bits_per_pixel / 8;
    // Extra: 0, 64 bytes, or 7 pixels past the row.
    const uint32_t line = W * bytes_per_pixel + (extra == 64 ? 64 : uint32_t(extra) * bytes_per_pixel);
    Scratch scratch;
    // Pure red, green, blue, white and black bands, then a gradient in every channel.
    std::vector<uint8_t> art(size_t(W) * H * 3);
    for (uint32_t y = 0; y < H; ++y)
        for (uint32_t x = 0; x < W; ++x) {
            uint8_t* p = &art[(size_t(y) * W + x) * 3];
            const uint8_t bands[5][3]
                = { { 255, 0, 0 }, { 0, 255, 0 }, { 0, 0, 255 }, { 255, 255, 255 }, { 0, 0, 0 } };
            if (y < 20)
                std::copy_n(bands[y / 4], 3, p);
            else
                p[0] = uint8_t(x * 4), p[1] = uint8_t(y * 5), p[2] = uint8_t(255 - x * 4);
        }
    ASSERT_OK(write_png_rgb(scratch / "art.png", W, H, art));
    ToolRun encoded = scratch.run("pelimora-frames",
        { "encode", scratch / "art.png", "-o", scratch / "set/", "--format", format_name, "--line-length",
            std::to_string(line) });
    ASSERT_EQ(encoded.status, 0) << encoded.err;

    ScreenGeometry panel { W, H, format.bits_per_pixel, line, &format };
    VirtualDevices devices;
    devices.fb
        = FbSettings { .xres = 64, .yres = 48, .bits_per_pixel = format.bits_per_pixel, .line_length = line };
    PlayerRun run = run_player(installed_player(), devices, scratch / "set");
    // One picture, held: frame 1 draws it and the other frames keep it.
    ASSERT_EQ(run.screens.size(), size_t(FRAME_COUNT)) << run.error.message;
    EXPECT_EQ(run.screens.front(), run.screens.back());
    std::vector<uint8_t> memory(panel.memory_bytes());
    std::copy(run.screens.back().begin(), run.screens.back().end(), memory.begin());
    std::vector<uint8_t> shown = panel_rgb(memory, panel);

    uint32_t full = rows_drawn_in_full(panel);
    const uint32_t bits[3] = { 5, format.bits_per_pixel == 16 ? format.green.length : 6, 5 };
    for (uint32_t y = 0; y < full; ++y)
        for (uint32_t x = 0; x < W; ++x)
            for (int c = 0; c < 3; ++c) {
                size_t i = (size_t(y) * W + x) * 3 + size_t(c);
                ASSERT_LE(std::abs(int(shown[i]) - int(art[i])), 256 >> bits[c])
                    << format_name << " line " << line << " at " << x << "," << y << " channel " << c;
            }
    if (full < H) {
        EXPECT_NE(encoded.err.find("rows " + std::to_string(full) + "-47 cannot be drawn in full"),
            std::string::npos)
            << encoded.err;
    } else {
        EXPECT_EQ(encoded.err.find("cannot be drawn"), std::string::npos) << encoded.err;
    }
    // The set says what it was made for, and check agrees.
    ToolRun checked = scratch.run("pelimora-frames", { "check", scratch / "set" });
    EXPECT_EQ(checked.status, 0) << checked.out; // frame 1, then 39 frames that keep it
    EXPECT_EQ(checked.out.find("the set was made for"), std::string::npos) << checked.out;
}

INSTANTIATE_TEST_SUITE_P(Formats, PanelFrames,
    testing::Combine(testing::Values("RGB565", "BGR565", "XRGB1555", "XBGR1555", "ARGB1555", "XBGR8888",
                         "ABGR8888", "XRGB8888", "ARGB8888"),
        testing::Values(0, 64, 7)),
    [](const testing::TestParamInfo<std::tuple<const char*, int>>& info) {
        return std::string(std::get<0>(info.param)) + "_" + std::to_string(std::get<1>(info.param));
    });

TEST(ToolsMatrix, EncodeRefusesPanelsThatCannotShowTheFrames)
{
    Scratch scratch;
    write_art(scratch / "art", 1);
    for (const char* format : { "RGBX8888", "BGRX8888", "RGBA8888", "BGRA8888" }) {
        ToolRun run = scratch.run(
            "pelimora-frames", { "encode", scratch / "art", "-o", scratch / "set", "--format", format });
        EXPECT_EQ(run.status, 2) << format;
        EXPECT_NE(run.err.find("cannot show the player's frames"), std::string::npos) << run.err;
        EXPECT_FALSE(fs::exists(scratch / "set"));
    }
}

} // namespace

namespace {

// Two tools writing at once, each started as the other is.
std::pair<ProcessExit, ProcessExit> run_together(
    const std::vector<std::string>& first, const std::vector<std::string>& second)
{
    SpawnRequest a, b;
    a.argv = first, b.argv = second;
    a.stderr_fd = b.stderr_fd = a.stdout_fd = b.stdout_fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
    pid_t one = -1, other = -1;
    (void)spawn_process(a, &one), (void)spawn_process(b, &other);
    close(a.stdout_fd);
    return { wait_process(one), wait_process(other) };
}

} // namespace

TEST(ToolsMatrix, TwoEncodesIntoOneFolderNeverMixTheirSets)
{
    Scratch scratch;
    write_art(scratch / "art", 6);
    for (int run = 0; run < 8; ++run) {
        // Pictures smaller than the panel: each run's background shows in every frame.
        auto encode = [&](const char* background) {
            return std::vector<std::string> { tool_path("pelimora-frames"), "encode", scratch / "art",
                "--size", "80x60", "--background", background, "-q", "-o", scratch / "set" };
        };
        auto [one, other] = run_together(encode("ff0000"), encode("0000ff"));
        EXPECT_TRUE(one.exit_status == 0 || other.exit_status == 0) << "run " << run;
        ToolRun check = scratch.run("pelimora-frames", { "check", scratch / "set" });
        ASSERT_EQ(check.status, 0) << "run " << run << ": a set of two writers\n" << check.out;
    }
    EXPECT_FALSE(has_temporaries(scratch));
    // While one writes (stopped where it holds the lock), another is refused at once in one line.
    pid_t pid = start_writing({ "pelimora-frames", "encode", scratch / "art", "-o", scratch / "set", "-q" });
    ASSERT_GT(pid, 0);
    ToolRun second = scratch.run("pelimora-frames", { "encode", scratch / "art", "-o", scratch / "set" });
    EXPECT_EQ(second.status, 1);
    EXPECT_NE(second.err.find("set: another pelimora tool is writing it now"), std::string::npos)
        << second.err;
    EXPECT_EQ(go_on(pid).exit_status, 0);
}

TEST(ToolsMatrix, OneLockForEveryWriterOfAFolder)
{
    REQUIRE_DEVICE_SANDBOX();
    Scratch scratch;
    standard_inputs(scratch);
    write_text(scratch / "a.json", R"({"xres": 64, "yres": 48, "bits_per_pixel": 16})");
    write_text(scratch / "c.json", R"({"xres": 32, "yres": 24, "bits_per_pixel": 32})");
    auto set_into = [&](const fs::path& out) {
        return std::vector<std::string> { "pelimora-frames", "encode", scratch / "art", "--size", "64x48",
            "-q", "-o", out };
    };
    auto bundle_into = [&](const fs::path& out) {
        return std::vector<std::string> { "pelimora-frames", "encode", scratch / "art", "--panel",
            scratch / "a.json", "--panel", scratch / "c.json", "-q", "-o", out };
    };
    const fs::path held_dir = scratch / "held";
    fs::create_directories(held_dir);
    {
        FolderLock held;
        ASSERT_OK(held.take(held_dir));
        for (std::vector<std::string> writer : { set_into(held_dir), bundle_into(held_dir),
                 { "pelimora-frames", "preview", scratch / "set", "-q", "-o", held_dir },
                 { "pelimora-vfb", "--frames", scratch / "set", "-q", "-o", held_dir },
                 { "pelimora-frames", "sample", "--size", "8x8", "-o", held_dir } }) {
            const std::string tool = writer[0];
            writer.erase(writer.begin());
            ToolRun run = scratch.run(tool, writer);
            EXPECT_EQ(run.status, 1) << writer[0];
            EXPECT_NE(run.err.find("held: another pelimora tool is writing it now"), std::string::npos)
                << run.err;
        }
        EXPECT_TRUE(fs::is_empty(held_dir));
    }
    // A writer of one kind stopped while it holds the folder: one of the
    // other kind is refused, and once the first has finished, refused again
    // for what the folder now holds.
    struct Pair {
        std::vector<std::string> first, second;
        const char* then;
    };
    for (const Pair& pair : { Pair { bundle_into(scratch / "X"), set_into(scratch / "X"), "holds a bundle" },
             Pair { set_into(scratch / "Y"), bundle_into(scratch / "Y"), "holds a set of frames" } }) {
        pid_t pid = start_writing(pair.first);
        ASSERT_GT(pid, 0);
        std::vector<std::string> second(pair.second.begin() + 1, pair.second.end());
        ToolRun refused = scratch.run(pair.second[0], second);
        EXPECT_EQ(refused.status, 1) << refused.err;
        EXPECT_NE(refused.err.find("another pelimora tool is writing it now"), std::string::npos)
            << refused.err;
        EXPECT_EQ(go_on(pid).exit_status, 0);
        ToolRun after = scratch.run(pair.second[0], second);
        EXPECT_EQ(after.status, 2);
        EXPECT_NE(after.err.find(pair.then), std::string::npos) << after.err;
    }
    EXPECT_FALSE(has_temporaries(scratch));
}

TEST(ToolsMatrix, AKillAtAnyStepOfTheCommitLeavesTheOldSetOrTheNew)
{
    Scratch scratch;
    write_art(scratch / "old", 2);
    write_art(scratch / "new", 3);
    const fs::path set = scratch / "set";
    auto encode = [&](const char* art, const fs::path& out) {
        return std::vector<std::string> { "encode", scratch / art, "--size", "64x48", "-q", "-o", out };
    };
    ASSERT_EQ(scratch.run("pelimora-frames", encode("new", scratch / "reference")).status, 0);
    write_text(set / "notes.txt", "the user's");
    auto made = contents_of(scratch / "reference");
    made["notes.txt"] = "the user's";
    int killed = 0;
    for (int step = 1;; ++step) {
        // The next writer removes what the killed one left.
        ASSERT_EQ(scratch.run("pelimora-frames", encode("old", set)).status, 0);
        EXPECT_FALSE(has_temporaries(scratch)) << "step " << step - 1;
        const auto before = contents_of(set);
        std::vector<std::string> argv = encode("new", set);
        argv.insert(argv.begin(), "pelimora-frames");
        ProcessExit ended;
        pid_t pid = start_stopped_at("commit-" + std::to_string(step), argv, &ended);
        if (pid < 0) {
            EXPECT_EQ(ended.exit_status, 0);
            EXPECT_EQ(contents_of(set), made);
            break;
        }
        kill(pid, SIGKILL);
        EXPECT_EQ(wait_process(pid).term_signal, SIGKILL);
        ++killed;
        const auto after = contents_of(set);
        EXPECT_TRUE(after == before || after == made) << "killed before step " << step;
        ToolRun check = scratch.run("pelimora-frames", { "check", set });
        EXPECT_EQ(check.status, 0) << "killed before step " << step << "\n" << check.out;
    }
    EXPECT_GE(killed, 3);
}

TEST(ToolsMatrix, ScratchOfAKilledWriterIsNamedThenRemoved)
{
    Scratch scratch;
    standard_inputs(scratch);
    const pid_t dead = gone_process_id();
    ASSERT_GT(dead, 0);
    const std::string stale = ".pelimora-" + std::to_string(dead) + "-" + frame_name(4);
    const std::string live = ".pelimora-" + std::to_string(getpid()) + "-picture.png";
    for (const std::string& name : { stale, live, std::string("notes.txt") })
        write_text(scratch / "set" / name, "left here");
    ToolRun check = scratch.run("pelimora-frames", { "check", scratch / "set" });
    EXPECT_EQ(check.status, 0) << check.out;
    EXPECT_NE(check.out.find("warning: " + stale + " was left by a pelimora tool stopped"), std::string::npos)
        << check.out;
    EXPECT_NE(check.out.find("warning: notes.txt is not a frame or the set's description"), std::string::npos)
        << check.out;
    // The next writer removes what killed writers left, and nothing else.
    ASSERT_EQ(scratch.run("pelimora-frames", { "encode", scratch / "art", "-o", scratch / "set" }).status, 0);
    EXPECT_FALSE(fs::exists(scratch / "set" / stale));
    EXPECT_TRUE(fs::exists(scratch / "set" / live));
    EXPECT_TRUE(fs::exists(scratch / "set" / "notes.txt"));
}

TEST(ToolsMatrix, CaveatsOnlyWhenTheFramesShowWrongOnThePanel)
{
    REQUIRE_DEVICE_SANDBOX();
    Scratch scratch;
    standard_inputs(scratch);
    // Made for an X,R,G,B panel with padded lines: shown as made there.
    write_text(scratch / "panel.json",
        R"({"xres": 64, "yres": 48, "bits_per_pixel": 32, "format": "xrgb8888", "line_length": 264})");
    ASSERT_EQ(
        scratch
            .run("pelimora-frames",
                { "encode", scratch / "art", "--panel", scratch / "panel.json", "-o", scratch / "xrgb" })
            .status,
        0);
    std::vector<std::vector<std::string>> views = {
        { "pelimora-frames", "preview", scratch / "xrgb", "-o", scratch / "p1" },
        { "pelimora-frames", "decode", scratch / "xrgb" / frame_name(1), "-o", scratch / "x.png" },
        { "pelimora-vfb", "--frames", scratch / "xrgb", "-o", scratch / "v1" },
        // The player's own layout under another name.
        { "pelimora-frames", "preview", scratch / "set", "--format", "ABGR8888", "-o", scratch / "p2" },
        { "pelimora-vfb", "--frames", scratch / "set", "--format", "abgr8888", "-o", scratch / "v2" },
    };
    for (auto view : views) {
        std::string tool = view[0];
        view.erase(view.begin());
        ToolRun run = scratch.run(tool, view);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.err.find("swapped"), std::string::npos) << run.err;
        EXPECT_EQ(run.err.find("shears"), std::string::npos) << run.err;
    }
    // What is true is still said: the player's layout on an X,R,G,B panel.
    ToolRun wrong = scratch.run(
        "pelimora-frames", { "preview", scratch / "set", "--format", "XRGB8888", "-o", scratch / "p3" });
    EXPECT_NE(wrong.err.find("red and blue swapped"), std::string::npos) << wrong.err;
}

TEST(ToolsMatrix, CheckSaysWhichScreenTheSetWasMadeFor)
{
    Scratch scratch;
    standard_inputs(scratch);
    ToolRun other = scratch.run("pelimora-frames", { "check", scratch / "set", "--format", "BGR565" });
    EXPECT_EQ(other.status, 1);
    EXPECT_EQ(other.out.find("screen as intended"), std::string::npos) << other.out;
    EXPECT_NE(other.out.find("codes as encoded (for another screen)"), std::string::npos) << other.out;
    // The frames are whole; the verdict blames the screen, not them.
    EXPECT_NE(other.out.find("every frame draws its records whole, but the set was made for another screen"),
        std::string::npos)
        << other.out;
    // At the other depth the player's frames show the same: nothing is wrong.
    ASSERT_EQ(
        scratch.run("pelimora-frames", { "encode", scratch / "art", "--depth", "16", "-o", scratch / "s16" })
            .status,
        0);
    ToolRun deeper = scratch.run("pelimora-frames", { "check", scratch / "s16", "--depth", "32" });
    EXPECT_EQ(deeper.status, 0) << deeper.out;
    EXPECT_NE(deeper.out.find("made for 16 bpp; at 32 bpp it shows the same"), std::string::npos)
        << deeper.out;
    // A set made with no depth is viewed at either, and says so.
    ToolRun either = scratch.run("pelimora-frames", { "preview", scratch / "set", "-o", scratch / "p" });
    EXPECT_EQ(either.status, 0) << either.err;
    EXPECT_NE(either.err.find("made for either depth"), std::string::npos) << either.err;
    // Whole numbers in any JSON form, format names in any case.
    write_text(scratch / "panel.json", R"({"xres": 6.4e1, "yres": 48.0, "format": "xbgr8888"})");
    ToolRun panel
        = scratch.run("pelimora-frames", { "check", scratch / "set", "--panel", scratch / "panel.json" });
    EXPECT_EQ(panel.status, 0) << panel.out << panel.err;
}

TEST(ToolsMatrix, VfbJudgesTheSetAsCheckDoes)
{
    REQUIRE_DEVICE_SANDBOX();
    Scratch scratch;
    write_art(scratch / "art", 8);
    ASSERT_EQ(scratch.run("pelimora-frames", { "encode", scratch / "art", "-o", scratch / "set" }).status, 0);
    // A frame replaced after encoding: it plays, but not as the set was made.
    fs::copy_file(scratch / "set" / frame_name(6), scratch / "set" / frame_name(5),
        fs::copy_options::overwrite_existing);
    ToolRun vfb = scratch.run("pelimora-vfb", { "--frames", scratch / "set", "-o", scratch / "device" });
    EXPECT_EQ(vfb.status, 1);
    EXPECT_NE(vfb.err.find("not as the set was made to leave it after " + frame_name(5)), std::string::npos)
        << vfb.err;
    EXPECT_EQ(scratch.run("pelimora-frames", { "check", scratch / "set" }).status, 1);
}

// pelimora-kms on the virtual DRM card, against the preview: a set made for
// the XRGB8888 buffer (its pitch longer than a row) plays pixel-exact; a set
// made for another format is refused before it runs.
TEST(ToolsMatrix, VfbRunsPelimoraKmsOnAVirtualCard)
{
    REQUIRE_DEVICE_SANDBOX();
    Scratch scratch;
    write_art(scratch / "art", 8);
    ToolRun made = scratch.run("pelimora-frames",
        { "encode", scratch / "art", "--depth", "32", "--format", "XRGB8888", "--line-length", "320", "-o",
            scratch / "set" });
    ASSERT_EQ(made.status, 0) << made.err;
    ToolRun vfb = scratch.run(
        "pelimora-vfb", { "--frames", scratch / "set", "--kms", "-q", "-o", scratch / "device" });
    EXPECT_EQ(vfb.status, 0) << vfb.err;
    EXPECT_NE(vfb.out.find("pelimora-kms: 40 of 40 frames drawn"), std::string::npos) << vfb.out;
    EXPECT_NE(vfb.out.find("the screens match the preview"), std::string::npos) << vfb.out;
    ASSERT_EQ(
        scratch
            .run("pelimora-frames", { "encode", scratch / "art", "--depth", "16", "-o", scratch / "rgb565" })
            .status,
        0);
    ToolRun refused
        = scratch.run("pelimora-vfb", { "--frames", scratch / "rgb565", "--kms", "-o", scratch / "d16" });
    EXPECT_EQ(refused.status, int(ExitStatus::bad_command_line));
    EXPECT_NE(refused.err.find("--kms: pelimora-kms draws on an XRGB8888 buffer"), std::string::npos)
        << refused.err;
    EXPECT_FALSE(fs::exists(scratch / "d16"));
}

TEST(ToolsMatrix, AClipCutShortIsUsedOnlyWhenAllowed)
{
    Scratch scratch;
    ASSERT_EQ(make_clip(scratch / "whole.mp4",
                  { "-f", "lavfi", "-i", "testsrc2=s=320x240:d=3:r=25", "-c:v", "libx264", "-b:v", "2M",
                      "-movflags", "+faststart" }),
        "");
    std::string whole = slurp(scratch / "whole.mp4");
    write_text(scratch / "clip.mp4", whole.substr(0, whole.size() / 3));
    ToolRun run = scratch.run("pelimora-frames",
        { "encode", scratch / "clip.mp4", "--size", "64x48", "--every", "100", "--allow-short", "-o",
            scratch / "set" });
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(
        run.err.find("note: " + (scratch / "clip.mp4").string() + ": damaged or cut"), std::string::npos)
        << run.err;
    // The end it states is where its frames end, not its header's 3 s.
    EXPECT_EQ(run.err.find("which ends at 3.000 s"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("which ends at "), std::string::npos) << run.err;
    // A sound track longer than the video is no damage.
    ASSERT_EQ(make_clip(scratch / "talk.mkv",
                  { "-f", "lavfi", "-i", "testsrc=s=64x48:d=1:r=25", "-f", "lavfi", "-i", "sine=d=2", "-c:v",
                      "ffv1" }),
        "");
    run = scratch.run("pelimora-frames",
        { "encode", scratch / "talk.mkv", "--size", "64x48", "--every", "50", "-o", scratch / "talk" });
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("which ends at 1.0"), std::string::npos) << run.err;
}

TEST(ToolsMatrix, APreviewThatCannotBeWrittenSaysWhy)
{
    REQUIRE_DEVICE_SANDBOX();
    Scratch scratch;
    write_art(scratch / "art", 3, 160, 120, true);
    ASSERT_EQ(scratch.run("pelimora-frames", { "encode", scratch / "art", "-o", scratch / "set" }).status, 0);
    fs::create_directories(scratch / "tiny");
    if (mount("pelimora-tiny", (scratch / "tiny").c_str(), "tmpfs", 0, "size=16k") != 0)
        GTEST_SKIP() << "cannot mount a small tmpfs here";
    ToolRun run
        = scratch.run("pelimora-frames", { "preview", scratch / "set", "-o", scratch / "tiny" / "p" });
    EXPECT_EQ(run.status, 1);
    auto errors = errors_of(run);
    ASSERT_EQ(errors.size(), 1u) << run.err;
    EXPECT_NE(errors[0].find("No space left on device"), std::string::npos) << errors[0];
    EXPECT_FALSE(fs::exists(scratch / "tiny" / "p"));
    umount((scratch / "tiny").c_str());
}

// The artwork readers are modules beside the tool, each loaded when it is
// needed: a tool copied away from them still previews a set, and encode
// says in one line what it cannot load.
TEST(ToolsMatrix, AToolAwayFromItsReadersNeedsThemOnlyForArtwork)
{
    Scratch scratch;
    write_art(scratch / "art", 3, 160, 120, true);
    ASSERT_EQ(scratch.run("pelimora-frames", { "encode", scratch / "art", "-o", scratch / "set" }).status, 0);
    fs::create_directories(scratch / "bin");
    fs::copy_file(tool_path("pelimora-frames"), scratch / "bin" / "pelimora-frames");
    auto run_copy = [&](std::vector<std::string> args) {
        SpawnRequest request;
        request.argv = std::move(args);
        request.argv.insert(request.argv.begin(), (scratch / "bin" / "pelimora-frames").string());
        return run_process(request, true);
    };
    ProcessRun preview = run_copy({ "preview", scratch / "set", "-q", "-o", scratch / "preview" });
    EXPECT_EQ(preview.exit_status, 0) << preview.err;
    EXPECT_TRUE(fs::exists(scratch / "preview" / "animation.webp"));
    ProcessRun encode = run_copy({ "encode", scratch / "art", "-q", "-o", scratch / "again" });
    EXPECT_EQ(encode.exit_status, 1);
    auto errors = errors_of({ encode.exit_status, encode.term_signal, encode.out, encode.err });
    ASSERT_EQ(errors.size(), 1u) << encode.err;
    EXPECT_NE(errors[0].find("cannot load the artwork readers"), std::string::npos) << errors[0];
    EXPECT_NE(errors[0].find("libpelimora-pictures.so"), std::string::npos) << errors[0];
    EXPECT_FALSE(fs::exists(scratch / "again"));

    // With the video's module alone: a clip of the panel's size is read
    // without libvips, which only resizing its frames needs.
    const fs::path helpers = (scratch / "bin"
        / fs::relative(helpers_dir(), fs::path(tool_path("pelimora-frames")).parent_path()))
                                 .lexically_normal();
    fs::create_directories(helpers);
    fs::copy_file(helpers_dir() / "libpelimora-video.so", helpers / "libpelimora-video.so");
    ASSERT_EQ(make_clip(scratch / "clip.mp4",
                  { "-f", "lavfi", "-i", "testsrc2=size=160x120:rate=50", "-frames:v", "5", "-pix_fmt",
                      "yuv420p" }),
        "");
    ProcessRun as_is
        = run_copy({ "encode", scratch / "clip.mp4", "--size", "160x120", "-q", "-o", scratch / "clip" });
    EXPECT_EQ(as_is.exit_status, 0) << as_is.err;
    EXPECT_TRUE(fs::exists(scratch / "clip" / "Loop_40.rle"));
    ProcessRun resized
        = run_copy({ "encode", scratch / "clip.mp4", "--size", "80x60", "-q", "-o", scratch / "small" });
    EXPECT_EQ(resized.exit_status, 1);
    EXPECT_NE(resized.err.find("libpelimora-pictures.so"), std::string::npos) << resized.err;
    EXPECT_FALSE(fs::exists(scratch / "small"));
}

TEST(ToolsMatrix, ReachableFitsTheArtworkIntoTheRowsThePlayerDraws)
{
    Scratch scratch;
    // Red, with blue last rows: what a cut-off logo loses first.
    std::vector<uint8_t> rgb(size_t(W) * H * 3);
    for (size_t i = 0; i < W * H; ++i)
        rgb[i * 3] = i < W * (H - 6) ? 255 : 0, rgb[i * 3 + 2] = i < W * (H - 6) ? 0 : 255;
    ASSERT_OK(write_png_rgb(scratch / "logo.png", W, H, rgb));
    // Lines of 75 pixels: the stream of 64 x 48 reaches rows 0-40 in full.
    write_text(
        scratch / "panel.json", R"({"xres": 64, "yres": 48, "bits_per_pixel": 32, "line_length": 300})");
    auto last_reached_row = [&](const std::vector<std::string>& flags) {
        std::vector<std::string> args
            = { "encode", scratch / "logo.png", "--panel", scratch / "panel.json", "--fit", "fill", "-o" };
        args.push_back(scratch / "logo.rle");
        args.insert(args.end(), flags.begin(), flags.end());
        ToolRun encoded = scratch.run("pelimora-frames", args);
        EXPECT_EQ(encoded.status, 0) << encoded.err;
        ToolRun decoded = scratch.run("pelimora-frames",
            { "decode", scratch / "logo.rle", "--panel", scratch / "panel.json", "-o",
                scratch / "shown.png" });
        EXPECT_EQ(decoded.status, 0) << decoded.err;
        RgbaImage shown;
        EXPECT_OK(read_picture(scratch / "shown.png", W, H, &shown));
        return shown.rgba.empty()
            ? std::string()
            : std::string(shown.rgba.begin() + 40 * W * 4, shown.rgba.begin() + 40 * W * 4 + 3);
    };
    EXPECT_EQ(last_reached_row({}), std::string("\xff\x00\x00", 3)); // the blue rows are lost below
    EXPECT_EQ(last_reached_row({ "--reachable" }), std::string("\x00\x00\xff", 3));
}
