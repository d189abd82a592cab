#pragma once
#include "main/app.hpp"

// Serves MCP over standard input and output until the input ends.
Status mcp(const App& app);
