#include "src/kmsg.h"

#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

void kmsg_print(int /*level*/, const char* format, ...)
{
    // Opened per message: messages are rare and no descriptor outlives the call.
    int fd = open(KMSG_PATH, O_WRONLY);
    if (fd < 0)
        return;
    char message[KMSG_BUFFER_SIZE];
    va_list args;
    va_start(args, format);
    vsnprintf(message, sizeof message, format, args);
    va_end(args);
    message[sizeof message - 1] = '\0';
    (void)!write(fd, message, strlen(message));
    close(fd);
}
