#include "main/app.hpp"

Status App::text(const std::vector<std::string>&, std::string_view) { return fail("command not available in this build"); }
