#include "registry/invocation.hpp"

#include <algorithm>
#include <array>
#include <charconv>

const std::string_view usage_text =
    "usage: tarn OPERATION OPERAND [--json] [--timeout DURATION]\n"
    "\n"
    "A local recipe registry kept in one SQLite file.\n"
    "\n"
    "Operations:\n"
    "  search QUERY    full-text search; at most 10 hits, best first\n"
    "  inspect REF     the stored recipe; REF is ID (latest version) or ID@VERSION\n"
    "  context REF     the recipe's guidance composed for use, with related recipes\n"
    "  publish PATH    store the JSON recipe in PATH (needs TARN_TOKEN)\n"
    "\n"
    "Options:\n"
    "  --json               print JSON (the only output format)\n"
    "  --timeout DURATION   how long to wait for a busy store, e.g. 10s or 500ms (default 10s)\n"
    "  --help               print this text\n"
    "\n"
    "Environment:\n"
    "  TARN_URL           registry origin (required); recipes are kept per origin\n"
    "  TARN_TOKEN         publishing token (required by publish)\n"
    "  TARN_REGISTRY_DB   store path; default $XDG_DATA_HOME/tarn/registry.sqlite3,\n"
    "                     else ~/.local/share/tarn/registry.sqlite3\n"
    "\n"
    "Success prints one JSON value and exits 0; a failure prints one line on\n"
    "standard error and exits 1; a usage error exits 2.\n";

namespace {

constexpr std::array operations{"search", "inspect", "context", "publish"};

// Longer bounds would only hide a stuck store from the caller.
constexpr std::chrono::milliseconds longest_timeout = std::chrono::hours(1);

Status take_option(Invocation& inv, const std::vector<std::string>& args, std::size_t& i) {
    const std::string& arg = args[i];
    if (arg == "--json") return {};
    std::string value;
    if (arg == "--timeout") {
        if (++i == args.size()) return fail("--timeout needs a duration such as 10s or 500ms");
        value = args[i];
    } else if (arg.starts_with("--timeout=")) {
        value = arg.substr(10);
    } else {
        return fail("unknown option '" + arg + "'; see tarn --help");
    }
    TRY_LET(timeout, parse_duration(value));
    inv.timeout = timeout;
    return {};
}

}  // namespace

Result<std::chrono::milliseconds> parse_duration(std::string_view text) {
    std::string_view digits = text;
    long long scale = 0;
    if (digits.ends_with("ms")) {
        digits.remove_suffix(2);
        scale = 1;
    } else if (digits.ends_with("s")) {
        digits.remove_suffix(1);
        scale = 1000;
    }
    long long count = 0;
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), count);
    bool whole = scale != 0 && !digits.empty() && ec == std::errc() && end == digits.data() + digits.size();
    if (!whole || count < 0 || count > longest_timeout.count() / scale)
        return fail("invalid duration '" + std::string(text) + "'; use e.g. 10s or 500ms (at most 1 hour)");
    return std::chrono::milliseconds(count * scale);
}

Result<Invocation> parse_invocation(const std::vector<std::string>& args) {
    Invocation inv;
    std::vector<std::string> words;
    bool options_end = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (!options_end && (arg == "--help" || arg == "-h")) {
            inv.help = true;
            return inv;
        }
        if (!options_end && arg == "--") {
            options_end = true;
        } else if (!options_end && arg.starts_with("--")) {
            TRY(take_option(inv, args, i));
        } else {
            words.push_back(arg);
        }
    }
    if (words.size() == 1 && words[0] == "help") {
        inv.help = true;
        return inv;
    }
    if (words.empty()) return fail("missing operation; see tarn --help");
    if (std::ranges::find(operations, words[0]) == operations.end())
        return fail("unknown operation '" + words[0] + "'; see tarn --help");
    if (words.size() < 2) return fail(words[0] + " needs an operand; see tarn --help");
    if (words.size() > 2) return fail("unexpected argument '" + words[2] + "'; see tarn --help");
    inv.operation = words[0];
    inv.operand = words[1];
    return inv;
}
