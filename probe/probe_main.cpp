// pelimora-probe: what pelimora would find on this device. No arguments: a
// JSON report that changes nothing; --card: a test card left on the screen;
// --time: the 40 frames played as the player plays them, timed; --pick:
// the set of a bundle made for this screen.
#include "probe/probe.h"

#include <stdio.h>
#include <string.h>

int main(int argc, char** argv)
{
    if (argc == 1)
        return probe_report();
    if (argc == 2 && strcmp(argv[1], "--card") == 0)
        return probe_card();
    if (argc == 2 && strcmp(argv[1], "--time") == 0)
        return probe_time();
    if (argc == 3 && strcmp(argv[1], "--pick") == 0)
        return probe_pick(argv[2]);
    bool help = argc == 2 && strcmp(argv[1], "--help") == 0;
    fprintf(help ? stdout : stderr,
        "Usage: pelimora-probe [--card | --time | --pick BUNDLE]\n"
        "What the pelimora player would find on this device, learnt with its own calls, and on a kernel\n"
        "without a framebuffer what pelimora-kms would find on its DRM card; changes nothing but the\n"
        "screen with --card.\n\n"
        "Options:\n"
        "  (none)         print what the player would find, as JSON (pelimora-frames --panel takes it);\n"
        "                 exit 0 when the program it names (pelimora or pelimora-kms) would draw\n"
        "  --card         draw a test card as the player draws, and leave it up\n"
        "  --time         play the frames as the player does, without its pauses, and print each one's cost\n"
        "  --pick BUNDLE  print the path of the set of BUNDLE made for this screen; exit 1 when none is,\n"
        "                 2 when BUNDLE/index.json is bad\n");
    return help ? 0 : 2;
}
