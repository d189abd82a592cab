#pragma once
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "main/result.hpp"

// Longest text, in bytes, that may leave the machine in one field or query.
inline constexpr std::size_t text_limit = 16384;

// True when some private term, both sides lowercased, occurs in the text.
// Text that cannot be folded (invalid UTF-8) counts as a match: the screen fails closed.
bool has_private_term(const std::vector<std::string>& private_terms, std::string_view text);

// Decodes %XX escapes once ('+' stays '+'); the result must be UTF-8.
// Fails with "invalid URL encoding" or "invalid URL text".
Result<std::string> percent_decode(std::string_view text);
