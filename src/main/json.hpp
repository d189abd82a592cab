#pragma once
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "main/result.hpp"

// Objects keep their members in ascending byte order of the names.
using Json = nlohmann::json;

// The strict reader: exactly one value, only JSON whitespace around it,
// nesting below 128 levels; a repeated name keeps its last value.
Result<Json> parse(std::string_view bytes);

// As `parse`, but a name given twice in one object is refused too
// (for decoding records such as the configuration).
Result<Json> parse_record(std::string_view bytes);

// No whitespace, sorted members, only '"', '\\' and control characters
// escaped. Bytes that are not UTF-8 become U+FFFD; these never throw.
std::string compact(const Json& value);

// Two-space indentation, ": " after names, no line feed at the end.
std::string pretty(const Json& value);
