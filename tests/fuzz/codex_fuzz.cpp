// The Codex registration on arbitrary TOML text: one message, or a new text
// that keeps the original as a prefix (appended tables) or keeps every
// original line (an inline entry spliced in), parses, and is then registered.
#include <cstdlib>
#include <set>
#include <sstream>
#include "setup/toml.hpp"

#include "setup/hosts.hpp"

namespace {

std::multiset<std::string> lines(std::string_view text) {
    std::multiset<std::string> out;
    std::istringstream in{std::string(text)};
    for (std::string line; std::getline(in, line);) out.insert(line);
    return out;
}

bool keeps_every_line(std::string_view before, std::string_view after) {
    if (after.starts_with(before)) return true;
    // A splice changes the one line that holds the inline table's closing brace.
    auto old_lines = lines(before), new_lines = lines(after);
    std::size_t missing = 0;
    for (const auto& line : old_lines)
        if (new_lines.count(line) < old_lines.count(line)) ++missing;
    return missing <= 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const fs::path exe = "/home/u\"ser/.local/bin/tarn-agent";
    static const fs::path config = "/home/u\"ser/.config/tarn-agent/config.json";
    std::string_view text(reinterpret_cast<const char*>(data), size);
    auto merged = codex_settings(text, exe, config);
    if (!merged) {
        static const std::set<std::string> messages = {
            "invalid Codex config", "invalid Codex TOML; unchanged", "invalid Codex MCP table",
            "existing Codex tarn registration conflicts; unchanged"};
        if (!messages.count(merged.error())) std::abort();
        return 0;
    }
    if (!*merged) return 0;  // already registered
    const std::string& out = **merged;
    if (!keeps_every_line(text, out)) std::abort();
    try {
        (void)toml::parse(out);
    } catch (...) {
        std::abort();
    }
    auto again = codex_settings(out, exe, config);
    if (!again || *again) std::abort();  // the merged text counts as installed
    return 0;
}
