#include "main/mcp.hpp"

Status mcp(const App&) { return fail("command not available in this build"); }
