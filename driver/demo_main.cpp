#include "driver/demo_main.h"

#include "driver/platform.h"

DemoClock demoClock;

float demoTime(uint32_t, uint32_t) { return 0.0f; }
void buildShow() {}
void demoMain() { platformExit(0); }
int demoFrame(uint32_t) { return 0; }
