#pragma once
#include <string>
#include <vector>

#include "main/result.hpp"

// `install [--hosts codex,claude,pi|none] [--home PATH]`.
Status install(const std::vector<std::string>& args);
