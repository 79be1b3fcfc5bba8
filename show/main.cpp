#include "platform/platform.h"
#include "show/demo_main.h"
#include "show/show_options.h"

int main(int argc, char **argv) {
    platformStart(SHOW_PROGRAM);
    ShowOptions options;
    int status = parseShowOptions(argc, argv, &options);
    if (status < 0)
        status = applyShowOptions(options);
    if (status >= 0)
        platformExit(status);
    demoMain(options);
}
