#pragma once
#include <string>

#include "main/json.hpp"

// SHA-256 of the value's compact form, as 64 lowercase hexadecimal digits.
std::string digest(const Json& value);
