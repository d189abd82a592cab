#pragma once
// The skill document and the Pi adapter, compiled in from src/setup/texts.
#include <filesystem>
#include <string>
#include <string_view>

namespace embedded {
extern const std::string_view text_SKILL_md;
extern const std::string_view text_tarn_ts;
}  // namespace embedded

// The skill document naming the installed program as the command-line fallback.
std::string skill_text(const std::filesystem::path& program);

// The Pi extension that forwards an explicit /tl request to the skill.
std::string_view adapter_text();
