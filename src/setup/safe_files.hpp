#pragma once
// Planning and committing the installer's file writes: nothing is written
// until every destination has been read and found free of conflicts, no write
// goes through a symbolic link, and a failed replacement is rolled back.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "main/result.hpp"

namespace fs = std::filesystem;

// Largest destination file that planning reads.
inline constexpr std::size_t destination_limit = 134217728;

// One planned file write.
struct Change {
    fs::path path;
    std::string contents;
    std::optional<std::string> previous;  // absent: nothing existed when planned
    bool executable = false;              // 0700 rather than 0600
};

using Plan = std::vector<Change>;

// Refuses a path that is, or lies below, a symbolic link.
Status safe_path(const fs::path& path);

// The destination's bytes, or nullopt when nothing is there.
Result<std::optional<std::string>> existing(const fs::path& path);

// Creates the directory and its missing ancestors with mode 0700.
Status dir(const fs::path& path);

// Replaces the file through a flushed temporary file and a rename.
Status atomic(const fs::path& path, std::string_view bytes, bool executable);

// Plans one file: kept, identical, replaced (only when allowed) or new.
Status add(Plan& plan, const fs::path& path, std::string contents, bool keep_existing, bool may_replace,
           bool executable);

// `add` with the destination's contents as `existing` has just read them, for a
// caller that built the new contents from that read: the merge, `previous` and
// the re-check in `commit` then all see the same bytes.
Status add_over(Plan& plan, const fs::path& path, std::optional<std::string> current, std::string contents,
                bool keep_existing, bool may_replace, bool executable);

// Re-checks every destination, then applies the plan with backups below
// home/.config/tarn-agent/backups and rolls back on a failed replacement.
Status commit(const Plan& plan, const fs::path& home);

// A path as it is shown to the user.
std::string display(const fs::path& path);
