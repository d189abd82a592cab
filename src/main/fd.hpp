#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <unistd.h>
#include <utility>

// Owns one file descriptor and closes it exactly once.
class Fd {
  public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { reset(); }

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    // Closes now and reports whether the close succeeded.
    bool close() { return ::close(std::exchange(fd_, -1)) == 0; }
    void reset() {
        if (fd_ >= 0) ::close(std::exchange(fd_, -1));
    }

  private:
    int fd_ = -1;
};

// Writes every byte, continuing partial writes and retrying interruptions.
bool write_all(int fd, std::string_view bytes);

// Reads until end of input or until `limit` bytes are held; nullopt on a read error.
std::optional<std::string> read_up_to(int fd, std::size_t limit);
