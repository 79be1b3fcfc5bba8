// A helper program run as a child process (ffmpeg, ffprobe). Every wait on it
// wakes for the end signals and gives up once the child has made no progress
// for the stall time, so neither a stuck child nor Ctrl+C can hang the
// capture; whatever way the object goes, its child is killed if still running
// and always reaped.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// Seconds a child may take nothing we write, or keep running once it has all
// of it, before it counts as stalled: PELMIRA_ENCODER_TIMEOUT, else 60.
double childStallSeconds();

class ChildProcess {
  public:
    ChildProcess() = default;
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;
    ~ChildProcess() { abandon(); }

    // Starts arguments[0] from PATH with the given niceness, its stdin a pipe
    // we write (else /dev/null) and, if captureOutput, its stdout a pipe that
    // wait() collects. False with errno set.
    bool start(const std::vector<std::string> &arguments, bool input, bool captureOutput,
               int niceness = 0);

    // Writes to its stdin. False with errno set: EPIPE when the child has
    // gone, EINTR when an end signal came, ETIMEDOUT when it took nothing for
    // the stall time; in all three the child has been killed or has ended,
    // and endText() says how it ended.
    bool write(const void *data, size_t size);

    // Closes its stdin, collects its stdout into output and waits for it to
    // end; true if it exited with status 0. On an end signal or a stall the
    // child is killed first (errno EINTR or ETIMEDOUT).
    bool wait(std::string *output = nullptr);

    // How the child ended: "exited with status 1", "was killed by signal 9".
    std::string endText() const;

    // Kills and reaps the child, if it runs.
    void abandon();

  private:
    bool reap(bool block);
    void stop(int graceMs);
    void closePipes();

    pid_t pid_ = -1;
    int input_ = -1;
    int output_ = -1;
    int status_ = 0;
};
