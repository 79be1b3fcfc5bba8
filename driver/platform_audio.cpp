#include "driver/platform.h"

void platformPlaySound(const void *) {}
