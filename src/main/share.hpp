#pragma once
#include <filesystem>
#include <string>

namespace fs = std::filesystem;

// The attempt marker of a queued recipe: once it exists, nothing publishes the digest again by itself.
fs::path attempt_marker(const fs::path& queue, const std::string& digest);
