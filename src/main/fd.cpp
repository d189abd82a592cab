#include "main/fd.hpp"

#include <cerrno>

bool write_all(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

std::optional<std::string> read_up_to(int fd, std::size_t limit) {
    std::string bytes;
    char chunk[65536];
    while (bytes.size() < limit) {
        std::size_t want = std::min(sizeof chunk, limit - bytes.size());
        ssize_t n = ::read(fd, chunk, want);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return std::nullopt;
        if (n == 0) break;
        bytes.append(chunk, static_cast<std::size_t>(n));
    }
    return bytes;
}
