#include "setup/texts.hpp"

#include "setup/safe_files.hpp"

namespace {

// The one place in SKILL.md where the installed program's path goes.
constexpr std::string_view program_marker = "@TARN_AGENT_PATH@";

}  // namespace

std::string skill_text(const std::filesystem::path& program) {
    std::string_view source = embedded::text_SKILL_md;
    auto at = source.find(program_marker);
    if (at == std::string_view::npos) return std::string(source);
    std::string text(source.substr(0, at));
    text += display(program);
    text += source.substr(at + program_marker.size());
    return text;
}

std::string_view adapter_text() { return embedded::text_tarn_ts; }
