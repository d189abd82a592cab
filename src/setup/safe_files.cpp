#include "setup/safe_files.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "main/fd.hpp"
#include "main/private_files.hpp"
#include "main/stamp.hpp"
#include "main/unicode.hpp"

namespace {

bool has_parent(const fs::path& path) { return path.has_relative_path() && !path.parent_path().empty(); }

bool is_real_directory(const fs::path& path) {
    struct stat st {};
    return TEMP_FAILURE_RETRY(::stat(path.c_str(), &st)) == 0 && S_ISDIR(st.st_mode);
}

Status check_destination(const struct stat& st) {
    if (!S_ISREG(st.st_mode) || static_cast<std::uintmax_t>(st.st_size) > destination_limit)
        return fail("expected bounded regular destination file");
    return {};
}

Result<std::string> read_destination(const fs::path& path) {
    // O_NONBLOCK: a FIFO swapped in after the check must not hang the install.
    Fd fd(TEMP_FAILURE_RETRY(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)));
    if (!fd) return fail("cannot read existing file");
    struct stat st {};
    if (TEMP_FAILURE_RETRY(::fstat(fd.get(), &st)) != 0) return fail("cannot read existing file");
    TRY(check_destination(st));
    auto bytes = read_up_to(fd.get(), destination_limit + 1);
    if (!bytes) return fail("cannot read existing file");
    if (bytes->size() > destination_limit) return fail("expected bounded regular destination file");
    return std::move(*bytes);
}

// Puts a destination back as it was before the commit; failures are ignored.
void undo(const Change& change) {
    if (change.previous)
        (void)atomic(change.path, *change.previous, change.executable);
    else
        (void)TEMP_FAILURE_RETRY(::unlink(change.path.c_str()));
}

}  // namespace

std::string display(const fs::path& path) { return display_text(path.native()); }

Status safe_path(const fs::path& path) {
    for (fs::path p = path;; p = p.parent_path()) {
        struct stat st {};
        if (TEMP_FAILURE_RETRY(::lstat(p.c_str(), &st)) == 0) {
            if (S_ISLNK(st.st_mode)) return fail("refusing symlink destination: " + display(p));
        } else if (errno != ENOENT) {
            return fail("cannot inspect install path");
        }
        if (!has_parent(p)) return {};
    }
}

Result<std::optional<std::string>> existing(const fs::path& path) {
    TRY(safe_path(path));
    struct stat st {};
    if (TEMP_FAILURE_RETRY(::stat(path.c_str(), &st)) != 0) {
        if (errno == ENOENT) return std::optional<std::string>{};
        return fail("expected bounded regular destination file");
    }
    TRY(check_destination(st));
    TRY_LET(bytes, read_destination(path));
    return std::optional<std::string>(std::move(bytes));
}

Status dir(const fs::path& path) {
    TRY(safe_path(path));
    // Create from the outermost missing ancestor inwards.
    std::vector<fs::path> missing;
    for (fs::path p = path; !is_real_directory(p) && has_parent(p); p = p.parent_path()) missing.push_back(p);
    for (auto it = missing.rbegin(); it != missing.rend(); ++it)
        if (TEMP_FAILURE_RETRY(::mkdir(it->c_str(), 0700)) == 0)
            (void)sync_directory(it->parent_path());  // keeps a backup's run directory after a crash
        else if (!(errno == EEXIST && is_real_directory(*it)))
            return fail("cannot create installation directory");
    if (!is_real_directory(path)) return fail("cannot create installation directory");
    return {};
}

Status atomic(const fs::path& path, std::string_view bytes, bool executable) {
    if (!has_parent(path)) return fail("missing parent");
    fs::path parent = path.parent_path();
    TRY(dir(parent));
    fs::path temporary = parent / (".tarn-install-" + process_stamp());
    TRY(private_write(temporary, bytes));
    if (executable && TEMP_FAILURE_RETRY(::chmod(temporary.c_str(), 0700)) != 0) return fail("cannot set executable permissions");
    if (TEMP_FAILURE_RETRY(::rename(temporary.c_str(), path.c_str())) != 0) return fail("cannot commit installation file");
    // The rename is durable only once its directory is flushed; but the file is
    // replaced either way, and a failure reported now would not match the disk.
    (void)sync_directory(parent);
    return {};
}

Status add(Plan& plan, const fs::path& path, std::string contents, bool keep_existing, bool may_replace,
           bool executable) {
    TRY_LET(current, existing(path));
    return add_over(plan, path, std::move(current), std::move(contents), keep_existing, may_replace, executable);
}

Status add_over(Plan& plan, const fs::path& path, std::optional<std::string> current, std::string contents,
                bool keep_existing, bool may_replace, bool executable) {
    if (!current) {
        plan.push_back({path, std::move(contents), std::nullopt, executable});
        return {};
    }
    if (keep_existing || *current == contents) return {};
    if (!may_replace) return fail("existing file conflicts; left unchanged: " + display(path));
    plan.push_back({path, std::move(contents), std::move(current), executable});
    return {};
}

Status commit(const Plan& plan, const fs::path& home) {
    for (const Change& change : plan) {
        TRY_LET(current, existing(change.path));
        if (current != change.previous) return fail("configuration changed during installation; retry");
    }
    fs::path backups = home / ".config/tarn-agent/backups" / process_stamp();
    for (std::size_t j = 0; j < plan.size(); ++j) {
        const Change& change = plan[j];
        Status step = change.previous ? atomic(backups / std::to_string(j), *change.previous, false) : Status{};
        if (step) step = atomic(change.path, change.contents, change.executable);
        // A failed backup ends the commit as a failed replacement does: with
        // the earlier changes undone, so that a failure leaves every file old.
        if (!step) {
            for (std::size_t k = j; k-- > 0;) undo(plan[k]);
            return step;
        }
    }
    return {};
}
