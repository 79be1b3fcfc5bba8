// Video on WGL: the window's pixel format and GL context, the picture's own
// framebuffer, presentation and read-back.
//
// As on every backend, the picture is drawn into a framebuffer of exactly the
// size the show asks for and presented scaled to fit, centred between black
// bars, into a window the size of the monitor or whatever size the user gives
// it. The framebuffer calls are OpenGL 3.0's, reached through
// wglGetProcAddress since opengl32.dll exports only 1.1. Where the driver has
// none (Windows' own software OpenGL 1.1), the show is drawn straight into
// the window through a viewport of the fitted rectangle instead: its own
// clear of the whole window makes the bars.
#include "platform/common/fit_rect.h"
#include "platform/common/timing.h"
#include "platform/platform.h"
#include "platform/win32/internal.h"

#include <GL/gl.h>
#include <GL/glext.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>

static HWND window;
static HDC deviceContext;
static HGLRC context;
static GLuint frameBuffer;
static GLuint renderBuffers[2];
static int frameWidth;
static int frameHeight;
static int headlessWidth; // 0: the size the show asks for
static int headlessHeight;
static char errorText[320];

static PFNGLGENFRAMEBUFFERSPROC genFramebuffers;
static PFNGLBINDFRAMEBUFFERPROC bindFramebuffer;
static PFNGLDELETEFRAMEBUFFERSPROC deleteFramebuffers;
static PFNGLGENRENDERBUFFERSPROC genRenderbuffers;
static PFNGLBINDRENDERBUFFERPROC bindRenderbuffer;
static PFNGLDELETERENDERBUFFERSPROC deleteRenderbuffers;
static PFNGLRENDERBUFFERSTORAGEPROC renderbufferStorage;
static PFNGLFRAMEBUFFERRENDERBUFFERPROC framebufferRenderbuffer;
static PFNGLCHECKFRAMEBUFFERSTATUSPROC checkFramebufferStatus;
static PFNGLBLITFRAMEBUFFERPROC blitFramebuffer;

static bool fail(const char *what, DWORD code) {
    char why[200] = "";
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                   why, sizeof why, nullptr);
    // The system's text ends in a line break; a message is one line.
    for (char *c = why; *c; ++c)
        if (*c == '\r' || *c == '\n')
            *c = *(c + 1) ? ' ' : '\0';
    std::snprintf(errorText, sizeof errorText, "cannot open the display: %s: %s (error %lu)", what,
                  why[0] ? why : "failed", (unsigned long)code);
    return false;
}

const char *platformError() {
    return errorText;
}

HWND videoWindow() {
    return window;
}

template <class Function> static bool load(Function *function, const char *name) {
    // Through void (*)(), the type GCC lets stand for any function's.
    *function = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(wglGetProcAddress(name)));
    return *function != nullptr;
}

// The framebuffer calls, where the context has them.
static bool loadFrameBufferCalls() {
    const char *version = (const char *)glGetString(GL_VERSION);
    const char *extensions = (const char *)glGetString(GL_EXTENSIONS);
    bool offered = (version && std::atoi(version) >= 3) ||
                   (extensions && std::strstr(extensions, "GL_ARB_framebuffer_object"));
    return offered && load(&genFramebuffers, "glGenFramebuffers") &&
           load(&bindFramebuffer, "glBindFramebuffer") &&
           load(&deleteFramebuffers, "glDeleteFramebuffers") &&
           load(&genRenderbuffers, "glGenRenderbuffers") &&
           load(&bindRenderbuffer, "glBindRenderbuffer") &&
           load(&deleteRenderbuffers, "glDeleteRenderbuffers") &&
           load(&renderbufferStorage, "glRenderbufferStorage") &&
           load(&framebufferRenderbuffer, "glFramebufferRenderbuffer") &&
           load(&checkFramebufferStatus, "glCheckFramebufferStatus") &&
           load(&blitFramebuffer, "glBlitFramebuffer");
}

static bool createFrameBuffer(int width, int height) {
    GLint largest = 0;
    glGetIntegerv(GL_MAX_RENDERBUFFER_SIZE, &largest);
    if (width > largest || height > largest)
        return false;
    genRenderbuffers(2, renderBuffers);
    bindRenderbuffer(GL_RENDERBUFFER, renderBuffers[0]);
    renderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, width, height);
    bindRenderbuffer(GL_RENDERBUFFER, renderBuffers[1]);
    renderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT16, width, height);
    bindRenderbuffer(GL_RENDERBUFFER, 0);
    genFramebuffers(1, &frameBuffer);
    bindFramebuffer(GL_FRAMEBUFFER, frameBuffer);
    framebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER,
                            renderBuffers[0]);
    framebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, renderBuffers[1]);
    if (checkFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE)
        return true;
    bindFramebuffer(GL_FRAMEBUFFER, 0);
    deleteFramebuffers(1, &frameBuffer);
    deleteRenderbuffers(2, renderBuffers);
    frameBuffer = 0;
    return false;
}

// Once a frame, where WGL_EXT_swap_control is offered: no tearing, and no
// more frames drawn than shown.
static void setSwapInterval() {
    typedef BOOL(WINAPI * SwapInterval)(int);
    SwapInterval swapInterval = nullptr;
    if (load(&swapInterval, "wglSwapIntervalEXT"))
        swapInterval(1);
}

// Gives back what a failed open made.
static void closeAfterFailure() {
    if (context) {
        glFinish();
        wglMakeCurrent(nullptr, nullptr);
        wglDeleteContext(context);
    }
    if (deviceContext)
        ReleaseDC(window, deviceContext);
    if (window)
        DestroyWindow(window);
    context = nullptr;
    deviceContext = nullptr;
    window = nullptr;
    frameBuffer = 0;
}

// Without a framebuffer of its own, the picture goes straight to the fitted
// part of the window.
static void fitViewport() {
    RECT client;
    GetClientRect(window, &client);
    int rect[4];
    fitRect(frameWidth, frameHeight, client.right, client.bottom, rect);
    glViewport(rect[0], rect[1], rect[2], rect[3]);
}

bool platformOpenDisplay(int width, int height) {
    if (context)
        return true;
    errorText[0] = '\0';
    window = screenCreateWindow(programName(), keysWindowProcedure);
    if (!window)
        return fail("CreateWindowEx", GetLastError());
    deviceContext = GetDC(window);
    PIXELFORMATDESCRIPTOR format = {};
    format.nSize = sizeof format;
    format.nVersion = 1;
    format.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;
    format.iPixelType = PFD_TYPE_RGBA;
    format.cColorBits = 32;
    format.cDepthBits = 16; // for drawing straight into the window
    int chosen = ChoosePixelFormat(deviceContext, &format);
    if (!chosen || !SetPixelFormat(deviceContext, chosen, &format))
        return fail("no OpenGL pixel format", GetLastError()), closeAfterFailure(), false;
    if (!headlessRequested()) {
        ShowWindow(window, SW_SHOW);
        SetForegroundWindow(window);
        SetFocus(window);
    }
    context = wglCreateContext(deviceContext);
    if (!context || !wglMakeCurrent(deviceContext, context))
        return fail("no OpenGL context", GetLastError()), closeAfterFailure(), false;
    bool resized = headlessRequested() && headlessWidth > 0 && headlessHeight > 0;
    frameWidth = resized ? headlessWidth : width;
    frameHeight = resized ? headlessHeight : height;
    if (loadFrameBufferCalls() && createFrameBuffer(frameWidth, frameHeight))
        glViewport(0, 0, frameWidth, frameHeight);
    else
        fitViewport();
    setSwapInterval();
    markContextReady();
    return true;
}

void platformSetHeadlessSize(int width, int height) {
    headlessWidth = width;
    headlessHeight = height;
}

// The window's own framebuffer black, then the picture blitted into the
// fitted rectangle; the show's clear colour is left as it was.
static void blitPicture(const int rect[4], int width, int height) {
    bindFramebuffer(GL_READ_FRAMEBUFFER, frameBuffer);
    bindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
    if (rect[2] != width || rect[3] != height) {
        GLfloat showClear[4];
        glGetFloatv(GL_COLOR_CLEAR_VALUE, showClear);
        glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        glClearColor(showClear[0], showClear[1], showClear[2], showClear[3]);
    }
    GLenum filter = rect[2] == frameWidth && rect[3] == frameHeight ? GL_NEAREST : GL_LINEAR;
    blitFramebuffer(0, 0, frameWidth, frameHeight, rect[0], rect[1], rect[0] + rect[2],
                    rect[1] + rect[3], GL_COLOR_BUFFER_BIT, filter);
}

void platformSwapBuffers() {
    if (headlessRequested())
        return;
    RECT client;
    GetClientRect(window, &client);
    int rect[4];
    fitRect(frameWidth, frameHeight, client.right, client.bottom, rect);
    if (frameBuffer && rect[2] > 0 && rect[3] > 0)
        blitPicture(rect, client.right, client.bottom);
    SwapBuffers(deviceContext);
    if (frameBuffer)
        bindFramebuffer(GL_FRAMEBUFFER, frameBuffer);
    else
        fitViewport(); // for the next frame, at the window's size now
    markFramePresented();
}

void platformReadFrame(unsigned char *rgba) {
    glFinish();
    if (frameBuffer)
        bindFramebuffer(GL_READ_FRAMEBUFFER, frameBuffer);
    glReadPixels(0, 0, frameWidth, frameHeight, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
    // GL reads bottom-up; the rows are turned over in place.
    size_t rowBytes = (size_t)frameWidth * 4;
    for (int top = 0, bottom = frameHeight - 1; top < bottom; ++top, --bottom) {
        unsigned char *a = rgba + (size_t)top * rowBytes, *b = rgba + (size_t)bottom * rowBytes;
        for (size_t i = 0; i < rowBytes; ++i) {
            unsigned char keep = a[i];
            a[i] = b[i];
            b[i] = keep;
        }
    }
}
