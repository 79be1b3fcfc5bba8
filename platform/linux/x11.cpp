// The X11-only pieces, the one file that includes Xlib: the Escape key's state
// asked of the server, the server's loss, and presentation through MIT-SHM.
//
// SDL's keyboard state only starts once the window has the focus; the server
// knows at once whether Escape is down, so a key held at launch is seen at the
// first poll. The server's answer covers the whole keyboard, though, so it is
// asked only while the window has the focus, or before it has ever had it (a
// window manager gives it some time after the window is mapped); once the
// user has moved to another window, Escape there is that window's.
//
// Pixel for pixel on a software renderer, a shared image is the cheap way to
// the window: GL's own path is a flipped blit that llvmpipe draws as a
// textured quad. A remote server, a visual whose pixels are not laid out as
// GL_BGRA reads them, or a GL without GL_MESA_pack_invert falls back to the
// blit.
//
// Xlib's own answers to trouble are a dump on stderr and exit(1), and a server
// that dies while Mesa's GLX sets up the window can crash the process inside
// Mesa. From before SDL opens its connection the show answers instead: a lost
// server (ending the show at once), an extension that is missing (SDL copes
// without RandR), a request the server refused (ending it at the next Escape
// poll), and a crash while a connection of our own sees the server gone, each
// as one line of ours.
#include "platform/linux/internal.h"
#include "platform/platform.h"

#include <GL/gl.h>
#include <SDL.h>
#include <SDL_syswm.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xext.h>
#include <X11/keysym.h>
#include <csignal>
#include <cstring>
#include <poll.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/socket.h>
#include <unistd.h>

#ifndef GL_PACK_INVERT_MESA
#define GL_PACK_INVERT_MESA 0x8758
#endif

static Display *display;
static ::Window window;
static KeyCode escapeKey;
static bool hadFocus;

static XShmSegmentInfo segment;
static XImage *sharedImage;
static GC sharedGc;
static bool attachFailed;

// Xlib cannot go on past a lost connection: every request SDL would make of
// it next is a line of Xlib's on stderr. The show ends here, through its own
// exit, which gives back what does not need the server.
static int onServerLost(Display *lost) {
    displayLost("lost the X server at %s", DisplayString(lost));
    platformExit(1);
}

static int onMissingExtension(Display *, _Xconst char *, _Xconst char *) {
    return 0;
}

// SDL expects the errors it can cope with under handlers of its own; any
// other would have been Xlib's exit. The show ends at its next Escape poll.
static int onRefusedRequest(Display *server, XErrorEvent *error) {
    bool windowGone = window && error->resourceid == window &&
                      (error->error_code == BadWindow || error->error_code == BadDrawable ||
                       error->request_code > 127); // GLX's own BadDrawable and the like
    char text[128];
    XGetErrorText(server, error->error_code, text, sizeof text);
    if (windowGone)
        displayLost("the show's window was destroyed by another program");
    else
        displayLost("the X server refused a request (%s, opcode %d.%d)", text, error->request_code,
                    error->minor_code);
    return 0;
}

// A connection of our own, never used after it is made: once the server is
// gone its socket reads as ended, which a signal handler may ask. Its sockets
// close one by one as it dies, so the answer is waited for a little.
static Display *watch;
static char lostLine[160];
static struct sigaction previousSegv, previousBus;

static bool serverGone() {
    if (!watch)
        return false;
    pollfd connection = {ConnectionNumber(watch), POLLIN, 0};
    for (int tries = 0; tries < 10; ++tries) {
        if (poll(&connection, 1, 100) != 1)
            continue;
        char unread[256]; // events the server sends every client
        ssize_t got;
        while ((got = recv(connection.fd, unread, sizeof unread, MSG_DONTWAIT)) > 0) {
        }
        if (got == 0 || (connection.revents & (POLLHUP | POLLERR)))
            return true;
    }
    return false;
}

// A crash is put down to the server only where the server is gone; else it
// goes on to the handler before ours (the sanitizer's, or the default) by
// faulting again.
static void onCrash(int signal) {
    if (serverGone()) {
        if (claimDisplayLoss()) {
            ssize_t written = write(2, lostLine, std::strlen(lostLine));
            (void)written;
        }
        _exit(1);
    }
    sigaction(signal, signal == SIGSEGV ? &previousSegv : &previousBus, nullptr);
}

void x11Prepare() {
    XSetIOErrorHandler(onServerLost);
    XSetExtensionErrorHandler(onMissingExtension);
    XSetErrorHandler(onRefusedRequest);
    if (watch || !(watch = XOpenDisplay(nullptr)))
        return;
    std::snprintf(lostLine, sizeof lostLine, "%s: lost the X server at %s; ending the show\n",
                  programName(), DisplayString(watch));
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = onCrash;
    sigemptyset(&action.sa_mask);
    sigaction(SIGSEGV, &action, &previousSegv);
    sigaction(SIGBUS, &action, &previousBus);
}

bool x11Attach(SDL_Window *sdlWindow) {
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (!SDL_GetWindowWMInfo(sdlWindow, &info) || info.subsystem != SDL_SYSWM_X11)
        return false;
    display = info.info.x11.display;
    window = info.info.x11.window;
    escapeKey = XKeysymToKeycode(display, XK_Escape);
    hadFocus = false;
    return true;
}

// Without a window manager the focus stays PointerRoot and is never the
// window's: the key is then asked for all along, as the show covers the screen.
static bool keyboardIsOurs() {
    ::Window focus;
    int revert;
    XGetInputFocus(display, &focus, &revert);
    hadFocus = hadFocus || focus == window;
    return focus == window || !hadFocus;
}

bool x11EscapeHeld() {
    if (!display || !escapeKey || displayWasLost() || !keyboardIsOurs())
        return false;
    char keys[32];
    XQueryKeymap(display, keys);
    return (keys[escapeKey / 8] & (1 << (escapeKey % 8))) != 0;
}

bool x11WindowRect(int rect[4]) {
    XWindowAttributes attributes;
    ::Window child;
    if (!display || displayWasLost() || !XGetWindowAttributes(display, window, &attributes) ||
        !XTranslateCoordinates(display, window, attributes.root, 0, 0, &rect[0], &rect[1], &child))
        return false;
    rect[2] = attributes.width;
    rect[3] = attributes.height;
    return true;
}

static int onAttachError(Display *, XErrorEvent *) {
    attachFailed = true;
    return 0;
}

// Attaches the segment the server reads the image from; a server on another
// machine refuses with an error, which by default would end the process.
static bool attachSegment(XImage *image) {
    segment.shmid =
        shmget(IPC_PRIVATE, (size_t)image->bytes_per_line * image->height, IPC_CREAT | 0600);
    if (segment.shmid < 0)
        return false;
    segment.shmaddr = (char *)shmat(segment.shmid, nullptr, 0);
    segment.readOnly = False;
    bool attached = false;
    if (segment.shmaddr != (char *)-1) {
        XSync(display, False);
        XErrorHandler previous = XSetErrorHandler(onAttachError);
        attachFailed = false;
        attached = XShmAttach(display, &segment);
        XSync(display, False);
        XSetErrorHandler(previous);
        attached = attached && !attachFailed;
    }
    // Freed with the process however it ends, once both sides have let go.
    shmctl(segment.shmid, IPC_RMID, nullptr);
    if (!attached && segment.shmaddr != (char *)-1)
        shmdt(segment.shmaddr);
    return attached;
}

bool x11OpenSharedPresent(int width, int height) {
    if (!display || !XShmQueryExtension(display) ||
        !SDL_GL_ExtensionSupported("GL_MESA_pack_invert"))
        return false;
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display, window, &attributes))
        return false;
    const Visual *visual = attributes.visual;
    if (visual->red_mask != 0xFF0000 || visual->green_mask != 0xFF00 || visual->blue_mask != 0xFF)
        return false;
    XImage *image = XShmCreateImage(display, attributes.visual, attributes.depth, ZPixmap, nullptr,
                                    &segment, width, height);
    if (!image)
        return false;
    const int hostOrder = SDL_BYTEORDER == SDL_LIL_ENDIAN ? LSBFirst : MSBFirst;
    if (image->bits_per_pixel != 32 || image->byte_order != hostOrder ||
        image->bytes_per_line != width * 4 || !attachSegment(image)) {
        XDestroyImage(image);
        return false;
    }
    image->data = segment.shmaddr;
    sharedImage = image;
    sharedGc = XCreateGC(display, window, 0, nullptr);
    return true;
}

void x11PresentShared() {
    glPixelStorei(GL_PACK_INVERT_MESA, GL_TRUE);
    glReadPixels(0, 0, sharedImage->width, sharedImage->height, GL_BGRA,
                 GL_UNSIGNED_INT_8_8_8_8_REV, sharedImage->data);
    glPixelStorei(GL_PACK_INVERT_MESA, GL_FALSE);
    XShmPutImage(display, window, sharedGc, sharedImage, 0, 0, 0, 0, sharedImage->width,
                 sharedImage->height, False);
    XSync(display, False);
}

// The display connection is SDL's; only what we made on it is given back.
void x11Close() {
    if (sharedImage) {
        XShmDetach(display, &segment);
        XFreeGC(display, sharedGc);
        sharedImage->data = nullptr;
        XDestroyImage(sharedImage);
        shmdt(segment.shmaddr);
        sharedImage = nullptr;
    }
    display = nullptr;
    escapeKey = 0;
}
