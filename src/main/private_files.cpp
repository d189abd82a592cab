#include "main/private_files.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

#include "main/fd.hpp"

namespace {

bool is_private(const struct stat& st) { return (st.st_mode & 077) == 0; }

Status check_bounded(const struct stat& st) {
    if (!S_ISREG(st.st_mode) || st.st_size > static_cast<off_t>(bounded_limit))
        return fail("expected bounded regular file");
    if (!is_private(st)) return fail("local configuration and candidates must be private (chmod 600)");
    return {};
}

}  // namespace

Result<std::string> bounded(const fs::path& path) {
    struct stat st {};
    if (TEMP_FAILURE_RETRY(::lstat(path.c_str(), &st)) != 0) return fail("local file unavailable");
    TRY(check_bounded(st));
    // O_NOFOLLOW and O_NONBLOCK close the window between the check and the
    // open: a link or a FIFO swapped in meanwhile cannot be read or block us.
    Fd fd(TEMP_FAILURE_RETRY(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK)));
    if (!fd) return fail(errno == ELOOP ? "expected bounded regular file" : "cannot read local file");
    struct stat opened {};
    if (TEMP_FAILURE_RETRY(::fstat(fd.get(), &opened)) != 0) return fail("cannot read local file");
    TRY(check_bounded(opened));
    auto bytes = read_up_to(fd.get(), bounded_limit + 1);
    if (!bytes) return fail("cannot read local file");
    if (bytes->size() > bounded_limit) return fail("expected bounded regular file");
    return std::move(*bytes);
}

namespace {

Result<Fd> create_exclusively(const fs::path& path) {
    Fd fd(TEMP_FAILURE_RETRY(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600)));
    if (!fd) return fail("cannot exclusively create private artifact");
    return fd;
}

}  // namespace

Status private_create(const fs::path& path) {
    TRY_LET(fd, create_exclusively(path));
    return {};
}

Status private_write(const fs::path& path, std::string_view bytes) {
    TRY_LET(fd, create_exclusively(path));
    bool saved = write_all(fd.get(), bytes) && TEMP_FAILURE_RETRY(::fsync(fd.get())) == 0;
    if (!fd.close() || !saved) return fail("cannot save private artifact");
    return {};
}

bool present(const fs::path& path) {
    struct stat st {};
    return TEMP_FAILURE_RETRY(::stat(path.c_str(), &st)) == 0;
}

bool sync_directory(const fs::path& dir) {
    Fd fd(TEMP_FAILURE_RETRY(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)));
    return fd && TEMP_FAILURE_RETRY(::fsync(fd.get())) == 0;
}

Status durable_write(const fs::path& path, std::string_view bytes) {
    TRY(private_write(path, bytes));
    if (!sync_directory(path.parent_path())) return fail("cannot save private artifact");
    return {};
}
