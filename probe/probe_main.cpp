// pelimora-probe: what pelimora would find on this device. No arguments: a
// JSON report that changes nothing; --card: a test card left on the screen;
// --time: the 40 frames played as the player plays them, timed.
#include "probe.h"

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
    bool help = argc == 2 && strcmp(argv[1], "--help") == 0;
    fprintf(help ? stdout : stderr,
        "usage: pelimora-probe [--card | --time]\n"
        "  (none)  print what the player would find, as JSON (pelimora-frames --panel takes it); "
        "exit 0 when it would draw\n"
        "  --card  draw a test card as the player draws, and leave it up\n"
        "  --time  play the frames as the player does, without its pauses, and print what each cost\n");
    return help ? 0 : 2;
}
