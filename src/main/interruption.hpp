#pragma once
#include <chrono>
#include <csignal>

// Holds SIGTERM, SIGINT and SIGHUP back while one registry call runs, so that
// a host stopping the companion (or Ctrl-C) cannot leave the tool running on
// without its bounds or a response file behind. Waiting wakes for those
// signals and for the child's exit (SIGCHLD). A signal ignored or blocked when
// the call began is left alone. When one was caught, the destructor raises it
// again once everything else of the call has been undone, and the process
// ends as that signal would have ended it.
class Interruptions {
  public:
    Interruptions();
    ~Interruptions();
    Interruptions(const Interruptions&) = delete;
    Interruptions& operator=(const Interruptions&) = delete;

    // Waits at most `limit`; true when a terminating signal arrived (it is kept for the destructor).
    bool wait(std::chrono::nanoseconds limit);

  private:
    sigset_t previous_{};
    sigset_t waited_{};   // the terminating signals taken over for this call
    sigset_t blocked_{};  // those and SIGCHLD
    int caught_ = 0;
};
