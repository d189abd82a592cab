#pragma once
#include <filesystem>

#include "main/result.hpp"

namespace fs = std::filesystem;

// TARN_AGENT_HOME when set (even empty), else HOME; it must be absolute.
Result<fs::path> home();

// TARN_AGENT_CONFIG when set (even empty, checked later), else the default under home().
Result<fs::path> config_path();

// The configuration path that the installer writes and registers for a home.
fs::path default_config_path(const fs::path& home);
