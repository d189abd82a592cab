#pragma once
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "main/result.hpp"

// (name, value) pairs in ascending order of the name: at most TARN_TOKEN and TARN_URL.
using Credentials = std::vector<std::pair<std::string, std::string>>;

// Reads "production.env" beside the configuration file and merges the
// TARN_URL and TARN_TOKEN environment overrides.
Result<Credentials> credentials(const std::filesystem::path& config_path);

// Parses the file's text alone (no environment), in file order.
Result<Credentials> credential_entries(std::string_view text);

// The two-line seed file the installer writes.
std::string credentials_template(std::string_view registry_origin);
