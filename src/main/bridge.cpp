#include "main/app.hpp"

Result<Json> App::cli(std::string, std::string) const { return fail("command not available in this build"); }
