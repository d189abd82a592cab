#include "main/interruption.hpp"

#include <cerrno>
#include <ctime>

namespace {

constexpr int terminating[] = {SIGTERM, SIGINT, SIGHUP};

bool ignored(int signal) {
    struct sigaction current {};
    return ::sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN;
}

}  // namespace

Interruptions::Interruptions() {
    ::sigprocmask(SIG_SETMASK, nullptr, &previous_);
    sigemptyset(&waited_);
    for (int signal : terminating)
        if (!ignored(signal) && !sigismember(&previous_, signal)) sigaddset(&waited_, signal);
    blocked_ = waited_;
    sigaddset(&blocked_, SIGCHLD);
    ::sigprocmask(SIG_BLOCK, &blocked_, nullptr);
}

Interruptions::~Interruptions() {
    if (caught_) ::raise(caught_);  // pending until the mask below lets it through
    sigset_t unblock = blocked_;
    if (sigismember(&previous_, SIGCHLD)) sigdelset(&unblock, SIGCHLD);
    ::sigprocmask(SIG_UNBLOCK, &unblock, nullptr);
}

bool Interruptions::wait(std::chrono::nanoseconds limit) {
    timespec timeout{static_cast<time_t>(limit.count() / 1'000'000'000), static_cast<long>(limit.count() % 1'000'000'000)};
    // A timeout, SIGCHLD or an interruption by a stop and continue all mean: check again.
    int signal = ::sigtimedwait(&blocked_, nullptr, &timeout);
    if (signal <= 0 || signal == SIGCHLD) return false;
    caught_ = signal;
    return true;
}
