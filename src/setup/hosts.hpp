#pragma once
// Connecting the companion to Codex, Claude and Pi: every file is planned,
// nothing is written here.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "main/result.hpp"
#include "setup/safe_files.hpp"

namespace fs = std::filesystem;

struct HostInputs {
    fs::path home;        // the resolved install home
    fs::path executable;  // home/.local/bin/tarn-agent
    fs::path config;      // home/.config/tarn-agent/config.json
    std::string skill;    // the skill document naming `executable`
};

// Plans the skill document and the registration of one host ("none" plans nothing).
Status plan_host(std::string_view name, const HostInputs& inputs, Plan& plan);

// The Codex settings text with the tarn server added, or nullopt when it is already registered.
Result<std::optional<std::string>> codex_settings(std::string_view text, const fs::path& executable,
                                                  const fs::path& config);

// The Claude settings document with the tarn server added, or nullopt when it is already registered.
Result<std::optional<std::string>> claude_settings(const std::optional<std::string>& bytes,
                                                   const fs::path& executable, const fs::path& config);
