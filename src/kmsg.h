// Kernel log writer: the player's only diagnostic channel.
#pragma once

#include "core/devices.h"

constexpr int KMSG_BUFFER_SIZE = 512;
// The one message the player has; the priority "<3>" travels inside the text.
constexpr char CANNOT_OPEN_FORMAT[] = "<3>pelimora: cannot open '%s'\n";

// Formats one message and writes it to the kernel log in a single write, so the
// kernel takes it as one record. `level` is not consulted: the format carries it.
// Fails silently; overlong messages are cut to KMSG_BUFFER_SIZE - 1 characters.
void kmsg_print(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));
