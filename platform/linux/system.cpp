// System services: the program's name in messages, the signals that end the
// process, the millisecond clock and the process end.
//
// Signals are only recorded here; the program notices them at its next poll,
// gives back what it holds and then ends by the same signal, so the shell and
// the parent see what happened. Limits: SIGKILL and SIGSTOP cannot be caught.
// Standard descriptors the program was started without are opened on
// /dev/null before anything else opens a file.
#include "platform/common/timing.h"
#include "platform/linux/internal.h"
#include "platform/platform.h"

#include <SDL.h>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <unistd.h>

static std::atomic<int> endSignal{0};
static std::atomic<bool> displayGone{false};
static_assert(std::atomic<int>::is_always_lock_free, "read in a signal handler");

// Every signal whose default action ends the process, real-time ones
// included. SIGPIPE is ignored instead: a closed reader shows as a failed
// write, which is reported.
static const int END_SIGNALS[] = {SIGHUP,    SIGINT,  SIGQUIT, SIGTERM, SIGUSR1, SIGUSR2, SIGALRM,
                                  SIGVTALRM, SIGPROF, SIGXCPU, SIGXFSZ, SIGIO,   SIGPWR,  SIGSTKFLT,
                                  SIGILL,    SIGTRAP, SIGABRT, SIGBUS,  SIGFPE,  SIGSEGV, SIGSYS};
// Sent by someone else, these too ask for an end; raised by a fault of our
// own (or by abort) they keep the handling they had, the default or a
// sanitizer's report, since the program cannot go on to a clean end.
static const int FAULT_SIGNALS[] = {SIGILL, SIGTRAP, SIGABRT, SIGBUS, SIGFPE, SIGSEGV, SIGSYS};
static struct sigaction previousAction[NSIG];

static void onEndSignal(int signal, siginfo_t *info, void *) {
    for (int fault : FAULT_SIGNALS) {
        if (signal != fault || (info->si_code <= 0 && info->si_pid != getpid()))
            continue;
        sigaction(signal, &previousAction[signal], nullptr);
        // A faulting instruction faults again on return; anything else is
        // raised again, to be delivered on return.
        if (info->si_code <= 0 || signal == SIGTRAP || signal == SIGSYS)
            raise(signal);
        return;
    }
    int none = 0;
    if (endSignal.compare_exchange_strong(none, signal))
        endWatchSignalled();
}

static void catchEndSignal(int signal, const struct sigaction &action) {
    // One that was ignored when we were started (nohup) stays ignored.
    if (sigaction(signal, nullptr, &previousAction[signal]) == 0 &&
        previousAction[signal].sa_handler == SIG_IGN)
        return;
    sigaction(signal, &action, nullptr);
}

// A program started with 0, 1 or 2 closed would hand the number to the next
// file it opens, such as the X connection, and its messages would go there.
static void openMissingStandardFiles() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        int opened = open("/dev/null", O_RDWR);
        if (opened >= 0 && opened != fd) {
            dup2(opened, fd);
            close(opened);
        }
    }
}

// SDL asks the session bus for the screensaver and input methods. With no bus
// to be found, libdbus would start one through dbus-launch, which outlives the
// show; the show needs neither service, so an address that cannot be used
// stands in. A bus at the standard place is left to be found.
static void keepSessionBusFromStarting() {
    if (std::getenv("DBUS_SESSION_BUS_ADDRESS"))
        return;
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    std::string standard = std::string(runtime ? runtime : "") + "/bus";
    if (runtime && access(standard.c_str(), F_OK) == 0)
        return;
    setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 0);
}

void platformStart(const char *programName) {
    openMissingStandardFiles();
    setProgramName(programName);
    timingStart();
    // SDL would turn Ctrl+C and SIGTERM into a quit event; we handle them.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    keepSessionBusFromStarting();
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_sigaction = onEndSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART | SA_SIGINFO;
    for (int signal : END_SIGNALS)
        catchEndSignal(signal, action);
    for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal)
        catchEndSignal(signal, action);
    std::signal(SIGPIPE, SIG_IGN);
}

int platformEndSignal() {
    return endSignal.load();
}

void platformSay(const char *format, ...) {
    char line[1100];
    va_list arguments;
    va_start(arguments, format);
    formatSayLine(line, sizeof line, format, arguments);
    va_end(arguments);
    std::fprintf(stderr, "%s\n", line);
}

bool claimDisplayLoss() {
    return !displayGone.exchange(true);
}

void displayLost(const char *format, ...) {
    if (!claimDisplayLoss())
        return;
    char text[512];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    platformSay("%s; ending the show", text);
}

bool displayWasLost() {
    return displayGone.load();
}

uint32_t platformTicks() {
    markTick();
    return SDL_GetTicks();
}

void platformExit(int status) {
    endWatchProgress();
    timingReport(programName());
    if (displayWasLost())
        status = 1;
    // A sound server's device takes up to a request period to close: it is
    // silenced first and closed once the window is gone.
    audioSilence();
    videoClose();
    endWatchProgress();
    audioClose();
    fontClose();
    // SDL's video would wait on a lost display server for ever.
    if (!displayWasLost())
        SDL_Quit();
    std::fflush(stdout);
    int signal = endSignal.load();
    if (signal) {
        std::signal(signal, SIG_DFL);
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, signal);
        sigprocmask(SIG_UNBLOCK, &set, nullptr);
        std::raise(signal);
        _exit(128 + signal);
    }
    std::exit(status);
}
