#include "platform/platform.h"
#include "show/demo_main.h"
#include "show/show_options.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

// Help or version text that could not be written (a full disk, a closed pipe)
// is a failure, not a success.
static int finishStdout(int status) {
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        platformSay("write error: %s", std::strerror(errno));
        return 1;
    }
    return status;
}

int main(int argc, char **argv) {
    platformStart(SHOW_PROGRAM);
    ShowOptions options;
    int status = parseShowOptions(argc, argv, &options);
    if (status < 0)
        status = applyShowOptions(options);
    if (status >= 0)
        platformExit(finishStdout(status));
    demoMain(options);
}
