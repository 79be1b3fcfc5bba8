// System services on Windows: the program's name in messages, where those
// messages go, Ctrl+C, the millisecond clock and the process end.
//
// The program is a GUI-subsystem executable, so that one started from the
// Explorer opens no console window. Its lines go to the standard error it was
// handed (a pipe, a file, or the terminal Wine was started from); else to the
// console of the program that started it, once attached; else, with no
// console to be had, into a message box, since nobody would see them
// otherwise. Ctrl+C and Ctrl+Break in that console, and its closing, are
// recorded here and end the show at its next poll, as Escape does.
#include "platform/common/timing.h"
#include "platform/platform.h"
#include "platform/win32/internal.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <io.h>
#include <mmsystem.h>

static bool messageBoxes; // no console and no standard error to write to
static std::atomic<int> endEvent{0};
static LARGE_INTEGER counterFrequency;

// The console control events, numbered as the C library numbers the signals
// that stand for them: SIGINT for Ctrl+C, SIGBREAK for Ctrl+Break, SIGTERM
// for a console closed, a log-off or a shut-down.
static BOOL WINAPI onConsoleEvent(DWORD event) {
    int signal = event == CTRL_C_EVENT ? 2 : event == CTRL_BREAK_EVENT ? 21 : 15;
    int none = 0;
    endEvent.compare_exchange_strong(none, signal);
    // Windows ends the process once a close, log-off or shut-down handler
    // returns: wait here for the show's own ending, which does not return.
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        Sleep(5000);
    return TRUE;
}

static bool usableHandle(DWORD which) {
    HANDLE handle = GetStdHandle(which);
    return handle && handle != INVALID_HANDLE_VALUE && GetFileType(handle) != FILE_TYPE_UNKNOWN;
}

// stdout and stderr to wherever they can be seen.
static void findOutput() {
    bool hadError = usableHandle(STD_ERROR_HANDLE);
    bool hadOutput = usableHandle(STD_OUTPUT_HANDLE);
    // Attached even when the streams are redirected: Ctrl+C reaches only the
    // processes attached to a console.
    bool attached = AttachConsole(ATTACH_PARENT_PROCESS) != 0;
    if (attached && !hadOutput)
        std::freopen("CONOUT$", "w", stdout);
    if (attached && !hadError)
        std::freopen("CONOUT$", "w", stderr);
    messageBoxes = !attached && !hadError;
}

void platformStart(const char *programName) {
    setProgramName(programName);
    QueryPerformanceFrequency(&counterFrequency);
    findOutput();
    timingStart();
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
    // Sleep(1) really a millisecond: the sound's start is waited for in them.
    timeBeginPeriod(1);
    // The whole monitor in real pixels, not a scaled-up 96 dpi picture.
    SetProcessDPIAware();
}

int platformEndSignal() {
    return endEvent.load();
}

void platformSay(const char *format, ...) {
    va_list arguments;
    va_start(arguments, format);
    if (messageBoxes) {
        // The box's title names the program; its text is the message alone.
        char text[1024];
        std::vsnprintf(text, sizeof text, format, arguments);
        va_end(arguments);
        MessageBoxA(nullptr, text, *programName() ? programName() : "pelmira",
                    MB_OK | MB_ICONERROR);
        return;
    }
    char line[1100];
    formatSayLine(line, sizeof line, format, arguments);
    va_end(arguments);
    std::fprintf(stderr, "%s\n", line);
    std::fflush(stderr);
}

double systemSeconds() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return (double)now.QuadPart / (double)counterFrequency.QuadPart;
}

// GetTickCount moves in steps of the system timer, 10 to 16 ms: a picture
// that far from its sound would be seen. The performance counter, in whole
// milliseconds wrapping as GetTickCount does, is as steady and exact.
uint32_t platformTicks() {
    markTick();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    long long frequency = counterFrequency.QuadPart;
    long long whole = now.QuadPart / frequency, part = now.QuadPart % frequency;
    return (uint32_t)(whole * 1000 + part * 1000 / frequency);
}

void platformExit(int status) {
    timingReport(programName());
    // The sound stops at once, not once what the device holds has played.
    audioClose();
    // The window and the GL context go with the process, as on Windows they
    // do at once: destroying them first only waits on the window system.
    timeEndPeriod(1);
    std::fflush(stdout);
    std::fflush(stderr);
    // Ended from the console: the status a console program gets from Ctrl+C.
    if (endEvent.load())
        status = (int)STATUS_CONTROL_C_EXIT;
    std::exit(status);
}
