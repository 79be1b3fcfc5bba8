// Window, context, presentation, clock, keyboard and process end on SDL2.
//
// The show draws an 800x600 picture into a framebuffer object of exactly the
// format it asks for (8-bit RGBA, 16-bit depth); presenting blits that picture
// into a desktop-sized full-screen window, scaled to fit and centred. No
// display mode is ever switched, so nothing has to be restored however the
// process ends.
#include "driver/platform.h"
#include "driver/platform_internal.h"

#include <GL/gl.h>
#include <GL/glext.h>
#include <SDL.h>
#include <SDL_syswm.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/keysym.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <unistd.h>

#ifndef GL_PACK_INVERT_MESA
#define GL_PACK_INVERT_MESA 0x8758
#endif

static bool headless;
static SDL_Window *window;
static SDL_GLContext context;
static GLuint frameBuffer;
static GLuint colourBuffer;
static GLuint depthBuffer;
static int frameWidth;
static int frameHeight;

// Where SDL runs on X11, the server knows at once whether Escape is down; SDL's
// own keyboard state waits for the window to be given focus.
static Display *x11Display;
static ::Window x11Window;
static KeyCode x11Escape;

// Pixel for pixel on X11, the picture goes to the window through shared
// memory: GL's own path is a flipped blit, which llvmpipe draws as a textured
// quad at several times the cost of a copy.
enum SharedPresent { SHARED_UNTRIED, SHARED_READY, SHARED_UNAVAILABLE };
static SharedPresent sharedPresent;
static XShmSegmentInfo sharedSegment;
static XImage *sharedImage;
static GC sharedGc;
static bool sharedAttachFailed;

static bool escapeLatched;
static bool quitRequested;
static volatile sig_atomic_t caughtSignal;

// PELMIRA_TIMING: a summary of the run's start-up and presentation on stderr
// at exit, in seconds of the system's monotonic clock.
static bool timing;
static bool startTickSeen;
static double contextReadyAt;
static double startTickAt;
static double firstFrameAt = -1.0;
static unsigned framesPresented;

static double monotonicSeconds() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (double)now.tv_sec + (double)now.tv_nsec * 1e-9;
}

static void printTiming() {
    std::fprintf(stderr,
                 "pelmira timing: context=%.6f start_tick=%.6f first_frame=%.6f frames=%u "
                 "exit=%.6f\n",
                 contextReadyAt, startTickAt, firstFrameAt, framesPresented, monotonicSeconds());
}

bool platformHeadless() {
    return headless;
}

void platformRequestHeadless() {
    headless = true;
}

[[noreturn]] static void failToOpen(const char *what, const char *why) {
    std::fprintf(stderr, "pelmira: %s: %s\n", what, why);
    SDL_Quit();
    std::exit(1);
}

static void onSignal(int signal) {
    caughtSignal = signal;
}

// Gives back the sound device, the window and the context. The GL work still
// queued (the last frame's clear) is finished first: Mesa's llvmpipe can
// deadlock tearing down its threads while they rasterise.
static void releaseDisplay() {
    if (timing)
        printTiming();
    platformStopSound();
    if (context)
        glFinish();
    SDL_Quit();
}

// Ends the process as the caught signal would have, once the display and the
// sound are given back.
[[noreturn]] static void endOnSignal() {
    int signal = caughtSignal;
    releaseDisplay();
    std::signal(signal, SIG_DFL);
    std::raise(signal);
    _exit(128 + signal);
}

static void watchX11Keyboard() {
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (SDL_GetWindowWMInfo(window, &info) && info.subsystem == SDL_SYSWM_X11) {
        x11Display = info.info.x11.display;
        x11Window = info.info.x11.window;
        x11Escape = XKeysymToKeycode(x11Display, XK_Escape);
    }
}

static void createFrameBuffer(int width, int height) {
    const char *version = (const char *)glGetString(GL_VERSION);
    bool blitAvailable = (version && std::atoi(version) >= 3) ||
                         SDL_GL_ExtensionSupported("GL_ARB_framebuffer_object");
    if (!blitAvailable)
        failToOpen("cannot open the display",
                   "the OpenGL context has no framebuffer objects (needs OpenGL 3.0)");

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
        failToOpen("cannot open the display", why);
    }

    // The picture's viewport is the one a window of its own size would give
    // its context; the window we really have is the size of the desktop.
    glViewport(0, 0, width, height);
    frameWidth = width;
    frameHeight = height;
}

static char displayError[256];

static bool isScreenDriver(const char *name) {
    // These drivers draw where no one sees it; the show would run blind.
    if (std::strcmp(name, "offscreen") == 0 || std::strcmp(name, "dummy") == 0 ||
        std::strcmp(name, "evdev") == 0)
        return false;
    // Without either variable libwayland cannot connect and only complains.
    if (std::strcmp(name, "wayland") == 0 && !std::getenv("WAYLAND_DISPLAY") &&
        !std::getenv("XDG_RUNTIME_DIR"))
        return false;
    return true;
}

// SDL falls back to its offscreen driver when there is no screen, which would
// run the show invisibly and report success; only drivers that show something
// are tried here, unless the user or the capture tool has chosen one.
static bool initVideo() {
    if (headless || std::getenv("SDL_VIDEODRIVER")) {
        if (SDL_Init(SDL_INIT_VIDEO) == 0)
            return true;
        std::snprintf(displayError, sizeof displayError, "%s", SDL_GetError());
        return false;
    }
    for (int i = 0; i < SDL_GetNumVideoDrivers(); ++i) {
        const char *name = SDL_GetVideoDriver(i);
        if (!isScreenDriver(name))
            continue;
        SDL_SetHint(SDL_HINT_VIDEODRIVER, name);
        if (SDL_InitSubSystem(SDL_INIT_VIDEO) == 0)
            return true;
        if (displayError[0])
            continue;
        if (std::strcmp(name, "x11") == 0 && std::getenv("DISPLAY"))
            std::snprintf(displayError, sizeof displayError, "no X server answers at DISPLAY=%s",
                          std::getenv("DISPLAY"));
        else
            std::snprintf(displayError, sizeof displayError, "%s: %s", name, SDL_GetError());
    }
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY"))
        std::snprintf(displayError, sizeof displayError,
                      "no display (neither DISPLAY nor WAYLAND_DISPLAY is set)");
    else if (!displayError[0])
        std::snprintf(displayError, sizeof displayError, "no video driver");
    return false;
}

void platformOpenDisplay(int width, int height) {
    timing = std::getenv("PELMIRA_TIMING") != nullptr;

    // SDL would turn Ctrl+C and SIGTERM into a quit event that the show never
    // asks for. The show ends on them itself, in the Escape poll; a headless
    // caller keeps whatever handling it has set up.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (!headless) {
        struct sigaction action;
        std::memset(&action, 0, sizeof action);
        action.sa_handler = onSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(SIGINT, &action, nullptr);
        sigaction(SIGTERM, &action, nullptr);
    } else {
        setenv("SDL_VIDEODRIVER", "offscreen", 1);
    }

    if (!initVideo())
        failToOpen("cannot open the display", displayError);

    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 0); // the show's depth buffer is its own

    if (headless) {
        window =
            SDL_CreateWindow("pelmira", 0, 0, width, height, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
    } else {
        // Created at the desktop's size: without a window manager a full-screen
        // request alone keeps the window at the size it was created with.
        SDL_Rect desktop;
        if (SDL_GetDisplayBounds(0, &desktop) != 0)
            failToOpen("cannot open the display", SDL_GetError());
        window = SDL_CreateWindow("pelmira", desktop.x, desktop.y, desktop.w, desktop.h,
                                  SDL_WINDOW_OPENGL | SDL_WINDOW_FULLSCREEN_DESKTOP |
                                      SDL_WINDOW_BORDERLESS);
    }
    if (!window)
        failToOpen("cannot create the window", SDL_GetError());
    if (!headless) {
        SDL_ShowCursor(SDL_DISABLE);
        watchX11Keyboard();
    }

    context = SDL_GL_CreateContext(window);
    if (!context)
        failToOpen("cannot create the OpenGL context", SDL_GetError());
    createFrameBuffer(width, height);

    if (timing)
        contextReadyAt = monotonicSeconds();
}

// The rectangle, in a dstWidth x dstHeight drawable, that a srcWidth x
// srcHeight picture fills when scaled to fit without changing its shape and
// centred: rect = {x, y, width, height}, origin bottom left.
static void fitRect(int srcWidth, int srcHeight, int dstWidth, int dstHeight, int rect[4]) {
    long long w, h;
    if ((long long)dstWidth * srcHeight <= (long long)dstHeight * srcWidth) {
        w = dstWidth;
        h = ((long long)dstWidth * srcHeight * 2 + srcWidth) / (2LL * srcWidth);
    } else {
        h = dstHeight;
        w = ((long long)dstHeight * srcWidth * 2 + srcHeight) / (2LL * srcHeight);
    }
    rect[0] = (int)((dstWidth - w) / 2);
    rect[1] = (int)((dstHeight - h) / 2);
    rect[2] = (int)w;
    rect[3] = (int)h;
}

// Blits the show's framebuffer into the window's, scaled to fit and centred
// with black bars, and leaves the window's framebuffer bound for drawing. The
// caller swaps and rebinds.
static void blitToWindow(int drawableWidth, int drawableHeight) {
    int rect[4];
    fitRect(frameWidth, frameHeight, drawableWidth, drawableHeight, rect);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, frameBuffer);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
    if (rect[2] != drawableWidth || rect[3] != drawableHeight) {
        // Only the bars: the blit covers the rest. The show's own clear colour
        // and scissor are left as they were.
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
    GLenum filter = rect[2] == frameWidth && rect[3] == frameHeight ? GL_NEAREST : GL_LINEAR;
    glBlitFramebuffer(0, 0, frameWidth, frameHeight, rect[0], rect[1], rect[0] + rect[2],
                      rect[1] + rect[3], GL_COLOR_BUFFER_BIT, filter);
}

static int onSharedAttachError(Display *, XErrorEvent *) {
    sharedAttachFailed = true;
    return 0;
}

// Sets up the shared image the picture is presented through, if the server
// and the window's visual allow it: a local server, 32-bit pixels laid out as
// GL_BGRA reads them, and GL able to read rows top first.
static void openSharedPresent() {
    sharedPresent = SHARED_UNAVAILABLE;
    if (!x11Display || !XShmQueryExtension(x11Display) ||
        !SDL_GL_ExtensionSupported("GL_MESA_pack_invert"))
        return;
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(x11Display, x11Window, &attributes))
        return;
    const Visual *visual = attributes.visual;
    if (visual->red_mask != 0xFF0000 || visual->green_mask != 0xFF00 || visual->blue_mask != 0xFF)
        return;
    XImage *image = XShmCreateImage(x11Display, attributes.visual, attributes.depth, ZPixmap,
                                    nullptr, &sharedSegment, frameWidth, frameHeight);
    if (!image)
        return;
    const int hostOrder = SDL_BYTEORDER == SDL_LIL_ENDIAN ? LSBFirst : MSBFirst;
    if (image->bits_per_pixel != 32 || image->byte_order != hostOrder ||
        image->bytes_per_line != frameWidth * 4) {
        XDestroyImage(image);
        return;
    }
    sharedSegment.shmid =
        shmget(IPC_PRIVATE, (size_t)image->bytes_per_line * image->height, IPC_CREAT | 0600);
    if (sharedSegment.shmid < 0) {
        XDestroyImage(image);
        return;
    }
    sharedSegment.shmaddr = (char *)shmat(sharedSegment.shmid, nullptr, 0);
    sharedSegment.readOnly = False;
    bool attached = false;
    if (sharedSegment.shmaddr != (char *)-1) {
        // A server on another machine refuses with an error, which by default
        // would end the process.
        XSync(x11Display, False);
        XErrorHandler previous = XSetErrorHandler(onSharedAttachError);
        sharedAttachFailed = false;
        attached = XShmAttach(x11Display, &sharedSegment);
        XSync(x11Display, False);
        XSetErrorHandler(previous);
        attached = attached && !sharedAttachFailed;
    }
    // Freed with the process however it ends, once both sides have let go.
    shmctl(sharedSegment.shmid, IPC_RMID, nullptr);
    if (!attached) {
        if (sharedSegment.shmaddr != (char *)-1)
            shmdt(sharedSegment.shmaddr);
        XDestroyImage(image);
        return;
    }
    image->data = sharedSegment.shmaddr;
    sharedImage = image;
    sharedGc = XCreateGC(x11Display, x11Window, 0, nullptr);
    sharedPresent = SHARED_READY;
}

// Reads the picture, top row first, straight into the shared image and has the
// server copy it into the window; returns once the server is done with it.
static void presentShared() {
    glPixelStorei(GL_PACK_INVERT_MESA, GL_TRUE);
    glReadPixels(0, 0, frameWidth, frameHeight, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV,
                 sharedImage->data);
    glPixelStorei(GL_PACK_INVERT_MESA, GL_FALSE);
    XShmPutImage(x11Display, x11Window, sharedGc, sharedImage, 0, 0, 0, 0, frameWidth, frameHeight,
                 False);
    XSync(x11Display, False);
}

void platformSwapBuffers() {
    if (caughtSignal)
        endOnSignal();
    if (headless)
        return;
    int drawableWidth, drawableHeight;
    SDL_GL_GetDrawableSize(window, &drawableWidth, &drawableHeight);
    bool oneToOne = drawableWidth == frameWidth && drawableHeight == frameHeight;
    if (oneToOne && sharedPresent == SHARED_UNTRIED)
        openSharedPresent();
    if (oneToOne && sharedPresent == SHARED_READY) {
        presentShared();
    } else {
        blitToWindow(drawableWidth, drawableHeight);
        SDL_GL_SwapWindow(window);
        glBindFramebuffer(GL_FRAMEBUFFER, frameBuffer);
    }
    if (timing) {
        if (framesPresented == 0)
            firstFrameAt = monotonicSeconds();
        ++framesPresented;
    }
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

uint32_t platformTicks() {
    if (timing && !startTickSeen) {
        // The show's first reading after opening the display is its start tick.
        startTickSeen = true;
        startTickAt = monotonicSeconds();
    }
    return SDL_GetTicks();
}

static bool escapeHeld() {
    if (x11Display) {
        char keys[32];
        XQueryKeymap(x11Display, keys);
        if (keys[x11Escape / 8] & (1 << (x11Escape % 8)))
            return true;
    }
    const Uint8 *state = SDL_GetKeyboardState(nullptr);
    return state[SDL_SCANCODE_ESCAPE] != 0;
}

int platformEscapePressed() {
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
        if (event.type == SDL_QUIT)
            quitRequested = true;
        else if (event.type == SDL_KEYDOWN && (event.key.keysym.sym == SDLK_ESCAPE ||
                                               event.key.keysym.scancode == SDL_SCANCODE_ESCAPE))
            escapeLatched = true;
    }
    if (caughtSignal)
        endOnSignal();
    bool pressed = escapeLatched || quitRequested || escapeHeld();
    escapeLatched = false;
    return pressed ? 1 : 0;
}

void platformExit(int status) {
    releaseDisplay();
    std::exit(status);
}
