#pragma once
#include <filesystem>
#include <string>
#include <string_view>

#include "main/result.hpp"

namespace fs = std::filesystem;

// Largest private file `bounded` accepts.
inline constexpr std::size_t bounded_limit = 65536;

// The whole content of a small, private, regular file that is not a symbolic link.
Result<std::string> bounded(const fs::path& path);

// Creates `path` exclusively with mode 0600, writes all bytes and flushes
// them. Never touches anything that already exists at `path`.
Status private_write(const fs::path& path, std::string_view bytes);

// Creates an empty file at `path` exclusively with mode 0600, as `private_write`
// does, but without flushing it: for a scratch file that lives for one call only.
Status private_create(const fs::path& path);

// `private_write`, then a flush of the directory so the new entry survives a crash.
Status durable_write(const fs::path& path, std::string_view bytes);

// True when the file system reports metadata for the path (links followed).
bool present(const fs::path& path);

// Flushes a directory's entries to stable storage.
bool sync_directory(const fs::path& dir);
