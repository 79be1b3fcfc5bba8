// Video on SDL2: driver choice, the window, the GL context, the picture's own
// framebuffer, presentation, read-back and the window system's events.
//
// The picture is drawn into a framebuffer object of exactly the format the
// show asks for (8-bit RGBA, 16-bit depth) and presented into a monitor-sized
// full-screen window or a resizable one (screen.cpp places it), scaled to fit
// and centred between black bars at whatever size it has now. No display
// mode is ever switched, so nothing has to be restored however the process
// ends. Needs OpenGL 3.0 or GL_ARB_framebuffer_object for the blit.
#include "platform/common/fit_rect.h"
#include "platform/linux/internal.h"
#include "platform/platform.h"

#include <GL/gl.h>
#include <GL/glext.h>
#include <SDL.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <link.h>

static SDL_Window *window;
static SDL_GLContext context;
static GLuint frameBuffer;
static GLuint colourBuffer;
static GLuint depthBuffer;
static int frameWidth;
static int frameHeight;
static int headlessWidth; // 0: the size the show asks for
static int headlessHeight;
static char errorText[320];

// Presentation through X11 shared memory, where it is tried and works.
enum SharedPresent { SHARED_UNTRIED, SHARED_READY, SHARED_UNAVAILABLE };
static SharedPresent sharedPresent;

static bool escapeLatched;
static bool quitRequested;

static bool fail(const char *what, const char *why) {
    std::snprintf(errorText, sizeof errorText, "%s: %s", what, why);
    return false;
}

const char *platformError() {
    return errorText;
}

// SDL is started once, whoever asks first: the show's options count the
// monitors before the window is made.
bool videoInit() {
    if (SDL_WasInit(SDL_INIT_VIDEO))
        return true;
    char why[256];
    return startVideoDriver(why, sizeof why) || fail("cannot open the display", why);
}

static int pinLibrary(dl_phdr_info *info, size_t, void *) {
    if (info->dlpi_name && info->dlpi_name[0])
        dlopen(info->dlpi_name, RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE);
    return 0;
}

// The GL driver and what it loaded stay until the process ends: unloading
// them with the window would only drop the driver's own allocations on the
// floor, unreachable and unfreed, and tear down llvmpipe's threads early.
static void pinLoadedLibraries() {
    dl_iterate_phdr(pinLibrary, nullptr);
}

static bool createWindow(int width, int height) {
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 0); // the picture's depth buffer is its own
    if (headlessRequested()) {
        window = SDL_CreateWindow(programName(), 0, 0, width, height,
                                  SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
    } else {
        window = screenCreateWindow(programName());
    }
    if (!window)
        return fail("cannot create the window", SDL_GetError());
    if (!headlessRequested())
        x11Attach(window);
    context = SDL_GL_CreateContext(window);
    if (!context)
        return fail("cannot create the OpenGL context", SDL_GetError());
    pinLoadedLibraries();
    if (!headlessRequested())
        setSwapInterval();
    return true;
}

static bool createFrameBuffer(int width, int height) {
    const char *version = (const char *)glGetString(GL_VERSION);
    bool blitAvailable = (version && std::atoi(version) >= 3) ||
                         SDL_GL_ExtensionSupported("GL_ARB_framebuffer_object");
    if (!blitAvailable)
        return fail("cannot open the display",
                    "the OpenGL context has no framebuffer objects (needs OpenGL 3.0)");

    GLint largest = 0;
    glGetIntegerv(GL_MAX_RENDERBUFFER_SIZE, &largest);
    if (width > largest || height > largest) {
        char why[96];
        std::snprintf(why, sizeof why, "a %dx%d picture is larger than this OpenGL allows (%d)",
                      width, height, largest);
        return fail("cannot open the display", why);
    }
    glGenRenderbuffers(1, &colourBuffer);
    glBindRenderbuffer(GL_RENDERBUFFER, colourBuffer);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, width, height);
    glGenRenderbuffers(1, &depthBuffer);
    glBindRenderbuffer(GL_RENDERBUFFER, depthBuffer);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT16, width, height);
    glBindRenderbuffer(GL_RENDERBUFFER, 0);

    glGenFramebuffers(1, &frameBuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, frameBuffer);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, colourBuffer);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, depthBuffer);
    GLenum status = glCheckFramebufferStatus(GL_FRAMEBUFFER);
    if (status != GL_FRAMEBUFFER_COMPLETE) {
        char why[64];
        std::snprintf(why, sizeof why, "framebuffer status 0x%x", status);
        return fail("cannot open the display", why);
    }
    // The picture's viewport is the one a window of its own size would give
    // its context; the window we really have is the size of the desktop.
    glViewport(0, 0, width, height);
    frameWidth = width;
    frameHeight = height;
    return true;
}

void platformSetHeadlessSize(int width, int height) {
    headlessWidth = width;
    headlessHeight = height;
}

bool platformOpenDisplay(int width, int height) {
    if (context)
        return true;
    errorText[0] = '\0';
    // The hidden window stays small: only the framebuffer is drawn into.
    bool resized = headlessRequested() && headlessWidth > 0 && headlessHeight > 0;
    int pictureWidth = resized ? headlessWidth : width;
    int pictureHeight = resized ? headlessHeight : height;
    if (!videoInit() || !createWindow(width, height) ||
        !createFrameBuffer(pictureWidth, pictureHeight)) {
        videoClose();
        return false;
    }
    markContextReady();
    return true;
}

// The GL work still queued (the last frame's clear) is finished first: Mesa's
// llvmpipe can deadlock tearing down its threads while they rasterise. On a
// display server that has gone away nothing is given back: SDL would wait for
// the server's answers to its teardown for ever.
void videoClose() {
    if (displayWasLost()) {
        context = nullptr;
        window = nullptr;
        return;
    }
    if (context)
        glFinish();
    x11Close();
    if (context)
        SDL_GL_DeleteContext(context);
    if (window)
        SDL_DestroyWindow(window);
    context = nullptr;
    window = nullptr;
    sharedPresent = SHARED_UNTRIED;
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

// Clears the bars around rect in the window's framebuffer to black, leaving
// the show's own clear colour and scissor as they were.
static void clearBars(const int rect[4], int drawableWidth, int drawableHeight) {
    GLfloat showClear[4];
    glGetFloatv(GL_COLOR_CLEAR_VALUE, showClear);
    GLint showScissor[4];
    glGetIntegerv(GL_SCISSOR_BOX, showScissor);
    GLboolean scissoring = glIsEnabled(GL_SCISSOR_TEST);
    glEnable(GL_SCISSOR_TEST);
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    int farX = rect[0] + rect[2], farY = rect[1] + rect[3];
    const int bars[4][4] = {{0, 0, rect[0], drawableHeight},
                            {farX, 0, drawableWidth - farX, drawableHeight},
                            {0, 0, drawableWidth, rect[1]},
                            {0, farY, drawableWidth, drawableHeight - farY}};
    for (const int *bar : bars) {
        if (bar[2] > 0 && bar[3] > 0) {
            glScissor(bar[0], bar[1], bar[2], bar[3]);
            glClear(GL_COLOR_BUFFER_BIT);
        }
    }
    glClearColor(showClear[0], showClear[1], showClear[2], showClear[3]);
    glScissor(showScissor[0], showScissor[1], showScissor[2], showScissor[3]);
    if (!scissoring)
        glDisable(GL_SCISSOR_TEST);
}

// Blits the picture into the window's framebuffer, scaled to fit and centred
// with black bars, swaps, and binds the picture's framebuffer again.
static void blitAndSwap(int drawableWidth, int drawableHeight) {
    int rect[4];
    fitRect(frameWidth, frameHeight, drawableWidth, drawableHeight, rect);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, frameBuffer);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
    if (rect[2] != drawableWidth || rect[3] != drawableHeight)
        clearBars(rect, drawableWidth, drawableHeight);
    GLenum filter = rect[2] == frameWidth && rect[3] == frameHeight ? GL_NEAREST : GL_LINEAR;
    glBlitFramebuffer(0, 0, frameWidth, frameHeight, rect[0], rect[1], rect[0] + rect[2],
                      rect[1] + rect[3], GL_COLOR_BUFFER_BIT, filter);
    SDL_GL_SwapWindow(window);
    glBindFramebuffer(GL_FRAMEBUFFER, frameBuffer);
}

// Shared memory pays only where GL itself runs on the CPU; on a GPU it would
// read every frame back through the CPU and bypass the swap.
static bool softwareRenderer() {
    const char *renderer = (const char *)glGetString(GL_RENDERER);
    return renderer && (std::strstr(renderer, "llvmpipe") || std::strstr(renderer, "softpipe"));
}

void platformSwapBuffers() {
    if (headlessRequested())
        return;
    int drawableWidth, drawableHeight;
    SDL_GL_GetDrawableSize(window, &drawableWidth, &drawableHeight);
    bool oneToOne = drawableWidth == frameWidth && drawableHeight == frameHeight;
    if (oneToOne && sharedPresent == SHARED_UNTRIED)
        sharedPresent = softwareRenderer() && x11OpenSharedPresent(frameWidth, frameHeight)
                            ? SHARED_READY
                            : SHARED_UNAVAILABLE;
    if (oneToOne && sharedPresent == SHARED_READY)
        x11PresentShared();
    else
        blitAndSwap(drawableWidth, drawableHeight);
    markFramePresented();
}

void platformReadFrame(unsigned char *rgba) {
    glFinish();
    glBindFramebuffer(GL_READ_FRAMEBUFFER, frameBuffer);
    glReadPixels(0, 0, frameWidth, frameHeight, GL_RGBA, GL_UNSIGNED_BYTE, rgba);

    // GL reads bottom-up; turn the rows over in place.
    size_t rowBytes = (size_t)frameWidth * 4;
    unsigned char chunk[1024];
    for (int top = 0, bottom = frameHeight - 1; top < bottom; ++top, --bottom) {
        unsigned char *a = rgba + (size_t)top * rowBytes;
        unsigned char *b = rgba + (size_t)bottom * rowBytes;
        for (size_t done = 0; done < rowBytes; done += sizeof chunk) {
            size_t n = rowBytes - done < sizeof chunk ? rowBytes - done : sizeof chunk;
            std::memcpy(chunk, a + done, n);
            std::memcpy(a + done, b + done, n);
            std::memcpy(b + done, chunk, n);
        }
    }
}

int platformEscapePressed() {
    endWatchProgress();
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
        if (event.type == SDL_QUIT) {
            quitRequested = true;
            // SDL's Wayland driver reports a lost compositor as a quit.
            if (waylandConnectionLost(window))
                displayLost("lost the Wayland compositor");
        } else if (event.type == SDL_KEYDOWN && (event.key.keysym.sym == SDLK_ESCAPE ||
                                                 event.key.keysym.scancode == SDL_SCANCODE_ESCAPE))
            escapeLatched = true;
        else if (event.type == SDL_AUDIODEVICEREMOVED && !event.adevice.iscapture)
            audioDeviceRemoved(event.adevice.which);
    }
    keepFullScreen(window);
    audioCheck();
    // SDL's keyboard state waits for the window to be given focus; the X
    // server knows at once.
    bool held = x11EscapeHeld() || SDL_GetKeyboardState(nullptr)[SDL_SCANCODE_ESCAPE] != 0;
    bool pressed =
        escapeLatched || quitRequested || held || platformEndSignal() != 0 || displayWasLost();
    escapeLatched = false;
    return pressed ? 1 : 0;
}
