#pragma once
#include <optional>
#include <string>
#include <string_view>

bool valid_utf8(std::string_view text);

// The full default lowercase mapping, with final sigma written as sigma: the
// context rule would fold a term's last Σ to ς but the same Σ inside a longer
// word to σ, and a term must match itself wherever it stands. nullopt for
// invalid UTF-8 or when ICU cannot be loaded, so that callers fail closed.
std::optional<std::string> fold_case(std::string_view text);

// True when the text holds a character of the control category other than tab and line feed.
bool has_refused_control(std::string_view text);

// Trims characters with the White_Space property from both ends.
std::string_view trim_white_space(std::string_view text);

bool has_white_space(std::string_view text);

// Bytes that are not UTF-8 become U+FFFD, as a path is shown to the user.
std::string display_text(std::string_view bytes);
