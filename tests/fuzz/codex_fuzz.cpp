// The Codex registration on arbitrary TOML text: one message, or a new text
// that keeps the original as a prefix (appended tables) or keeps every
// original line (an inline entry spliced in), parses, and is then registered.
// The size and nesting pass refuses only what toml++ refuses too, short of
// its limits.
#include <algorithm>
#include <cstdlib>
#include <set>
#include <sstream>
#include "setup/toml.hpp"

#include "setup/hosts.hpp"
#include "setup/toml_bounds.hpp"

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
    for (auto it = old_lines.begin(); it != old_lines.end(); it = old_lines.upper_bound(*it))
        missing += old_lines.count(*it) - std::min(old_lines.count(*it), new_lines.count(*it));
    return missing <= 1;
}

// Inputs on which toml++ may assert, so that it cannot be asked about them:
// a table header whose key starts otherwise than a key does, an array
// element that starts with '}' or a Unicode line separator, and a date
// followed by a time (one misspelled trips it; toml++ skips underscores
// when it looks for the date).
bool toml_asserts(std::string_view text) {
    for (std::string_view separator : {"\xC2\x85", "\xE2\x80\xA8", "\xE2\x80\xA9"})
        if (text.find(separator) != std::string_view::npos) return true;
    for (std::size_t at = text.find_first_of("Tt "); at != std::string_view::npos;
         at = text.find_first_of("Tt ", at + 1))
        if (text.substr(at < 16 ? 0 : at - 16, at < 16 ? at : 16).find('-') != std::string_view::npos) return true;
    auto key_start = [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
               c == '"' || c == '\'' || c == ']';
    };
    auto trimmed = [](std::string_view line) {
        line.remove_prefix(std::min(line.find_first_not_of(" \t"), line.size()));
        return line;
    };
    for (std::size_t start = text.starts_with("\xEF\xBB\xBF") ? 3 : 0; start <= text.size();) {
        std::size_t end = std::min(text.find('\n', start), text.size());
        std::string_view line = trimmed(text.substr(start, end - start));
        start = end + 1;
        if (line.starts_with('}')) return true;
        for (std::size_t brace = line.find('}'); brace != std::string_view::npos; brace = line.find('}', brace + 1)) {
            std::size_t before = line.find_last_not_of(" \t", brace - 1);
            if (line[before] == '[' || line[before] == ',') return true;
        }
        if (!line.starts_with('[')) continue;
        line = trimmed(line.substr(line.starts_with("[[") ? 2 : 1));
        if (line.empty() || !key_start(line.front())) return true;
    }
    return false;
}

// Fewer than 100 dots and brackets cannot nest 128 deep, and a fuzz input is
// far shorter than the item limit.
bool within_limits(std::string_view text) {
    return std::count_if(text.begin(), text.end(), [](char c) { return c == '.' || c == '[' || c == '{'; }) < 100;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const fs::path exe = "/home/u\"ser/.local/bin/tarn-agent";
    static const fs::path config = "/home/u\"ser/.config/tarn-agent/config.json";
    std::string_view text(reinterpret_cast<const char*>(data), size);
    if (!toml_within_bounds(text) && within_limits(text) && !toml_asserts(text)) {
        try {
            (void)toml::parse(text);
            std::abort();  // refused a document that toml++ reads
        } catch (const toml::parse_error&) {
        }
    }
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
