// Where the show's window goes: a borderless popup over one whole monitor, or
// a resizable window centred on it, and which monitor.
//
// The display mode is never changed: the popup is the monitor's size and the
// picture is scaled into it, so nothing has to be restored however the
// process ends, and Windows itself treats a popup that covers a monitor as
// full screen (the taskbar steps back). Monitors are numbered in the order
// EnumDisplayMonitors gives them; without a choice, the one that holds the
// mouse pointer is used, as it is the one the user is looking at.
#include "platform/platform.h"
#include "platform/win32/internal.h"

#include <vector>

static BOOL CALLBACK addMonitor(HMONITOR monitor, HDC, LPRECT, LPARAM list) {
    reinterpret_cast<std::vector<HMONITOR> *>(list)->push_back(monitor);
    return TRUE;
}

static std::vector<HMONITOR> monitors() {
    std::vector<HMONITOR> list;
    EnumDisplayMonitors(nullptr, nullptr, addMonitor, reinterpret_cast<LPARAM>(&list));
    return list;
}

int platformScreenCount() {
    return (int)monitors().size();
}

static HMONITOR chosenMonitor() {
    std::vector<HMONITOR> list = monitors();
    if (requestedScreen() >= 0 && requestedScreen() < (int)list.size())
        return list[requestedScreen()];
    POINT pointer = {0, 0};
    GetCursorPos(&pointer);
    return MonitorFromPoint(pointer, MONITOR_DEFAULTTOPRIMARY);
}

HWND screenCreateWindow(const char *title, WNDPROC procedure) {
    HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSEXA type = {};
    type.cbSize = sizeof type;
    type.style = CS_OWNDC | CS_HREDRAW | CS_VREDRAW;
    type.lpfnWndProc = procedure;
    type.hInstance = instance;
    type.hIcon = LoadIconA(nullptr, (LPCSTR)IDI_APPLICATION);
    type.hCursor = LoadCursorA(nullptr, (LPCSTR)IDC_ARROW);
    type.hbrBackground = (HBRUSH)GetStockObject(BLACK_BRUSH);
    type.lpszClassName = "pelmira";
    if (!RegisterClassExA(&type) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        return nullptr;

    MONITORINFO info = {};
    info.cbSize = sizeof info;
    GetMonitorInfoA(chosenMonitor(), &info);
    if (screenWindowed()) {
        // Centred on the monitor's work area, the size asked for being that
        // of the picture's surface, inside the frame.
        DWORD style = WS_OVERLAPPEDWINDOW | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
        RECT outer = {0, 0, requestedWindowWidth(), requestedWindowHeight()};
        AdjustWindowRectEx(&outer, style, FALSE, 0);
        int width = outer.right - outer.left, height = outer.bottom - outer.top;
        const RECT &work = info.rcWork;
        int x = work.left + (work.right - work.left - width) / 2;
        int y = work.top + (work.bottom - work.top - height) / 2;
        return CreateWindowExA(0, "pelmira", title, style, x, y, width, height, nullptr, nullptr,
                               instance, nullptr);
    }
    const RECT &whole = info.rcMonitor;
    HWND window = CreateWindowExA(WS_EX_APPWINDOW, "pelmira", title,
                                  WS_POPUP | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, whole.left,
                                  whole.top, whole.right - whole.left, whole.bottom - whole.top,
                                  nullptr, nullptr, instance, nullptr);
    if (window)
        ShowCursor(FALSE);
    return window;
}
