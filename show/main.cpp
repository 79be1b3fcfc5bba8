#include "driver/demo_main.h"

int main() {
    demoMain();
}
