#include "driver/display.h"

void setupDisplay() {}
