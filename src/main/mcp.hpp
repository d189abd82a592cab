#pragma once
#include <optional>
#include <string>
#include <string_view>

#include "main/app.hpp"

// Serves MCP over standard input and output until the input ends.
Status mcp(const App& app);

// Answers one received line (line feed included): the response line with its
// line feed, or nothing for a notification. Sets `initialized` on initialize.
std::optional<std::string> handle_line(const App& app, std::string_view bytes, bool& initialized);
