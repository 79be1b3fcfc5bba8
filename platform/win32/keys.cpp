// The Escape poll and the window's messages.
//
// The show has no message loop of its own, so the poll is where the window's
// messages are pumped: a close (the close box, Alt+F4, the taskbar) and an
// Escape typed since the last poll are recorded by the window procedure. A
// held Escape is read from the asynchronous key state, which Windows keeps
// for the whole desktop: it counts only while the show's window is in the
// foreground, or before it first was, for Escape held at launch, so that
// Escape typed into another window ends nothing.
#include "platform/platform.h"
#include "platform/win32/internal.h"

static bool escapeLatched;
static bool closeRequested;
static bool wasForeground;

LRESULT CALLBACK keysWindowProcedure(HWND window, UINT message, WPARAM w, LPARAM l) {
    switch (message) {
    case WM_CLOSE:
        // Not destroyed here: the show ends at its next poll and closes it.
        closeRequested = true;
        return 0;
    case WM_KEYDOWN:
        if (w == VK_ESCAPE)
            escapeLatched = true;
        return 0;
    case WM_SETCURSOR:
        // No pointer over the full-screen picture.
        if (LOWORD(l) == HTCLIENT && !screenWindowed()) {
            SetCursor(nullptr);
            return TRUE;
        }
        break;
    case WM_ERASEBKGND:
        return 1; // the next frame covers it; erasing would only flicker
    case WM_PAINT:
        ValidateRect(window, nullptr);
        return 0;
    }
    return DefWindowProcA(window, message, w, l);
}

int platformEscapePressed() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    HWND window = videoWindow();
    bool foreground = window && GetForegroundWindow() == window;
    if (foreground)
        wasForeground = true;
    bool held = (foreground || !wasForeground) && (GetAsyncKeyState(VK_ESCAPE) & 0x8000);
    bool pressed = escapeLatched || closeRequested || held || platformEndSignal() != 0;
    escapeLatched = false;
    return pressed ? 1 : 0;
}
