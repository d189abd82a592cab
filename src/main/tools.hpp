#pragma once
#include "main/app.hpp"

// The "tools/list" result: the five tools, fixed for the life of the process.
const Json& tools_list();

// The "tools/call" result for one outcome of `App::call`: a single text item,
// the compact value or the message, and `isError` telling which.
Json tool_result(const Result<Json>& outcome);
