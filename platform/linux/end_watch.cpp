// The end of a show whose display server or compositor has stopped answering.
//
// An end signal is only recorded, and the show notices it at its next poll.
// A server that is stopped (SIGSTOP, a debugger, a machine swapping itself to
// death) holds the show inside Xlib, libwayland or GL, which wait on its
// socket again after the signal, so that poll never comes. A thread of its
// own gives the show a grace after the signal, renewed while the show still
// gets on; past it the process ends by the signal at once. Nothing the show
// holds needs the server to be given back: no display mode is switched, and
// the kernel closes the rest. The capture tool never starts it: it has files
// to clean up and no server to wait on.
#include "platform/linux/internal.h"
#include "platform/platform.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <semaphore.h>
#include <system_error>
#include <thread>
#include <unistd.h>

static const std::chrono::seconds GRACE(2);

static sem_t signalled;
static std::atomic<bool> watching{false};
static std::atomic<unsigned> progress{0};

static void watch() {
    while (sem_wait(&signalled) != 0) {
    }
    for (unsigned seen = progress.load();;) {
        std::this_thread::sleep_for(GRACE);
        unsigned now = progress.load();
        if (now == seen)
            break;
        seen = now;
    }
    int signal = platformEndSignal();
    std::signal(signal, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    raise(signal);
    _exit(128 + signal);
}

void endWatchStart() {
    if (watching.load() || sem_init(&signalled, 0, 0) != 0)
        return;
    try {
        std::thread(watch).detach();
    } catch (const std::system_error &) {
        return; // the show still ends at its next poll
    }
    watching = true;
    if (platformEndSignal())
        sem_post(&signalled);
}

void endWatchSignalled() {
    if (watching.load())
        sem_post(&signalled);
}

void endWatchProgress() {
    ++progress;
}
