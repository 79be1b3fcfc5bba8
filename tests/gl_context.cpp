#include "tests/gl_context.h"

#include <SDL.h>
#include <cstdio>
#include <cstdlib>

static SDL_Window *testWindow;
static SDL_GLContext testContext;

bool openTestContext(int width, int height) {
    setenv("SDL_VIDEODRIVER", "offscreen", 1);
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        std::fprintf(stderr, "SDL video: %s\n", SDL_GetError());
        return false;
    }
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 16);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    testWindow =
        SDL_CreateWindow("test", 0, 0, width, height, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
    if (!testWindow) {
        std::fprintf(stderr, "SDL window: %s\n", SDL_GetError());
        return false;
    }
    testContext = SDL_GL_CreateContext(testWindow);
    if (!testContext) {
        std::fprintf(stderr, "GL context: %s\n", SDL_GetError());
        return false;
    }
    return true;
}

void closeTestContext() {
    if (testContext)
        SDL_GL_DeleteContext(testContext);
    if (testWindow)
        SDL_DestroyWindow(testWindow);
    testContext = nullptr;
    testWindow = nullptr;
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
}
