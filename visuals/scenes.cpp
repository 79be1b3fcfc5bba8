#include "visuals/scenes.h"

void drawFrame(float) {}
