#include "main/app.hpp"

Result<Json> App::share(std::string_view) const { return fail("command not available in this build"); }
