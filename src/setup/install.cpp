#include "setup/install.hpp"

Status install(const std::vector<std::string>&) { return fail("command not available in this build"); }
