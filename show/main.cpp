#include "platform/platform.h"
#include "show/demo_main.h"

int main() {
    platformStart(SHOW_PROGRAM);
    demoMain();
}
