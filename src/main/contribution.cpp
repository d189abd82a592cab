#include "main/contribution.hpp"

Result<Json> set_mode(const App&, const std::vector<std::string>&) { return fail("command not available in this build"); }
Result<Json> hook_drain(const App&) { return fail("command not available in this build"); }
