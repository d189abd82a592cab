#include "main/app.hpp"

Result<Json> App::call(std::string_view, const Json&) const { return fail("command not available in this build"); }
