#include "main/app.hpp"

Result<Json> App::recipe(const Json&) const { return fail("command not available in this build"); }
