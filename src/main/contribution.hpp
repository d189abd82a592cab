#pragma once
#include <string>
#include <vector>

#include "main/app.hpp"

// The `mode` command: rewrites the configuration's mode ("manual" or "hook").
Result<Json> set_mode(const App& app, const std::vector<std::string>& args);

// The `hook` command: in hook mode, shares up to ten queued candidates.
Result<Json> hook_drain(const App& app);
