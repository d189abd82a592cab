#pragma once
#include <optional>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

#include "main/result.hpp"

// One child process that is always reaped: a child still running when its
// owner goes away is killed and waited for, so no zombie outlives a call.
class Child {
  public:
    // Starts `program` directly (no shell, no PATH search) with standard input
    // and error on the null device and standard output on `out_fd`; the child
    // gets default signal dispositions, an empty signal mask and no other
    // descriptor. Failure is the errno value reported by the start.
    static std::expected<Child, int> spawn(const std::string& program, std::vector<std::string> args,
                                           std::vector<std::string> env, int out_fd);

    Child(Child&& other) noexcept : pid_(std::exchange(other.pid_, -1)) {}
    Child& operator=(Child&&) = delete;
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child() { kill_and_reap(); }

    // Non-blocking check: the wait status once the child has ended, nullopt while
    // it runs, an error when it cannot be observed. After an error the child is
    // forgotten, never signalled: its pid may already belong to another process.
    Result<std::optional<int>> poll();
    // SIGKILL and a blocking wait; failures are ignored.
    void kill_and_reap();

  private:
    explicit Child(pid_t pid) : pid_(pid) {}
    pid_t pid_ = -1;
};

// `base` with each NAME=value of `pairs` set in order, an existing entry of
// the same name replaced in place, so that no name appears twice.
std::vector<std::string> with_variables(std::vector<std::string> base,
                                        const std::vector<std::pair<std::string, std::string>>& pairs);
