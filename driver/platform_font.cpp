#include "driver/platform.h"

void platformDrawText(unsigned char *, int, const char *) {}
