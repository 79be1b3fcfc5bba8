#include "driver/platform.h"

#include <cstdlib>

void platformRequestHeadless() {}
void platformOpenDisplay(int, int) {}
void platformSwapBuffers() {}
void platformReadFrame(unsigned char *) {}
uint32_t platformTicks() { return 0; }
int platformEscapePressed() { return 0; }
void platformExit(int status) { std::exit(status); }
