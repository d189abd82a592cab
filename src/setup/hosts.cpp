#include "setup/hosts.hpp"

#include <cstdio>
#include "setup/toml.hpp"

#include "main/json.hpp"
#include "main/unicode.hpp"
#include "setup/texts.hpp"
#include "setup/toml_bounds.hpp"

namespace {

struct Host {
    std::string_view name;
    std::string_view skill_dir;
};

constexpr Host hosts[] = {
    {"codex", ".agents/skills/tl"},
    {"claude", ".claude/skills/tl"},
    {"pi", ".pi/agent/skills/tl"},
};

// A TOML basic string. The text is valid UTF-8, so only quotes, backslashes
// and control characters need escapes.
std::string basic_string(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20 || byte == 0x7f) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04X", byte);
            out += escape;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

struct Entry {
    std::string command;
    std::string config;
};

Result<Entry> server_entry(const fs::path& executable, const fs::path& config) {
    if (!valid_utf8(executable.native())) return fail("invalid executable path");
    if (!valid_utf8(config.native())) return fail("invalid config path");
    return Entry{executable.native(), config.native()};
}

Result<toml::table> parse_toml(std::string_view text, std::size_t item_limit = toml_item_limit) {
    if (!toml_within_bounds(text, item_limit)) return fail("invalid Codex TOML; unchanged");
    try {
        return toml::parse(text);
    } catch (...) {
        return fail("invalid Codex TOML; unchanged");
    }
}

bool string_is(const toml::node* node, std::string_view expected) {
    auto* s = node ? node->as_string() : nullptr;
    return s && s->get() == expected;
}

// Codex accepts further keys and environment variables beside ours.
bool registered(const toml::node& node, const Entry& entry) {
    auto* server = node.as_table();
    if (!server) return false;
    auto* args = server->get_as<toml::array>("args");
    auto* env = server->get_as<toml::table>("env");
    return string_is(server->get("command"), entry.command) && env &&
           string_is(env->get("TARN_AGENT_CONFIG"), entry.config) && args && args->size() == 1 &&
           string_is(args->get(0), "mcp");
}

// The server exactly as we write it, with nothing else in it.
bool exactly_ours(const toml::table& doc, const Entry& entry) {
    auto* servers = doc.get_as<toml::table>("mcp_servers");
    auto* server = servers ? servers->get_as<toml::table>("tarn") : nullptr;
    return server && registered(*server, entry) && server->size() == 3 &&
           server->get_as<toml::table>("env")->size() == 1;
}

// The text may be as large as the read bound: it is copied once, into a
// string that is never grown again.
std::string appended_tables(std::string_view text, bool with_header, const Entry& entry) {
    std::string_view separator = text.empty() ? "" : text.ends_with('\n') ? "\n" : "\n\n";
    std::string tables = (with_header ? "[mcp_servers]\n" : "") + std::string("[mcp_servers.tarn]\ncommand = ") +
                         basic_string(entry.command) + "\nargs = [\"mcp\"]\n\n[mcp_servers.tarn.env]\n" +
                         "TARN_AGENT_CONFIG = " + basic_string(entry.config) + "\n";
    std::string out;
    out.reserve(text.size() + separator.size() + tables.size());
    out.append(text).append(separator).append(tables);
    return out;
}

// Byte offset of a position that the parser gives as line and column, both
// counted from 1, the column in code points.
std::size_t byte_offset(std::string_view text, const toml::source_position& at) {
    std::size_t offset = 0;
    for (toml::source_index line = 1; line < at.line && offset < text.size(); ++line) {
        offset = text.find('\n', offset);
        offset = offset == std::string_view::npos ? text.size() : offset + 1;
    }
    for (toml::source_index column = 1; column < at.column && offset < text.size(); ++column)
        do ++offset;
        while (offset < text.size() && (static_cast<unsigned char>(text[offset]) & 0xC0) == 0x80);
    return offset;
}

// Inline tables must stay on one line, so the entry goes in before the closing brace.
Result<std::string> spliced_entry(std::string_view text, const toml::table& servers, const Entry& entry) {
    auto end = servers.source().end;
    if (end.column < 2) return fail("invalid Codex MCP table");
    std::size_t brace = byte_offset(text, {end.line, static_cast<toml::source_index>(end.column - 1)});
    if (brace >= text.size() || text[brace] != '}') return fail("invalid Codex MCP table");
    std::size_t at = brace;
    while (at > 0 && (text[at - 1] == ' ' || text[at - 1] == '\t')) --at;
    std::string item = std::string(at > 0 && text[at - 1] == '{' ? " " : ", ") + "tarn = { command = " +
                       basic_string(entry.command) + ", args = [\"mcp\"], env = { TARN_AGENT_CONFIG = " +
                       basic_string(entry.config) + " } }";
    std::string out;
    out.reserve(text.size() + item.size());
    out.append(text.substr(0, at)).append(item).append(text.substr(at));
    return out;
}

}  // namespace

Result<std::optional<std::string>> codex_settings(std::string_view text, const fs::path& executable,
                                                  const fs::path& config) {
    if (!valid_utf8(text)) return fail("invalid Codex config");
    TRY_LET(doc, parse_toml(text));
    TRY_LET(entry, server_entry(executable, config));
    const toml::node* node = doc.get("mcp_servers");
    if (node && !node->is_table()) return fail("invalid Codex MCP table");
    const toml::table* servers = node ? node->as_table() : nullptr;
    if (const toml::node* tarn = servers ? servers->get("tarn") : nullptr) {
        if (registered(*tarn, entry)) return std::optional<std::string>{};
        return fail("existing Codex tarn registration conflicts; unchanged");
    }
    TRY_LET(updated, servers && servers->is_inline() ? spliced_entry(text, *servers, entry)
                                                    : Result<std::string>(appended_tables(text, !servers, entry)));
    // A parsed document takes many times the size of its text: the first is
    // freed before the second is made.
    doc.clear();
    // Appending text can only be trusted once the parser reads our entry back;
    // the entry adds 13 items at most to a text that was within the limit.
    auto reread = parse_toml(updated, toml_item_limit + 16);
    if (!reread || !exactly_ours(*reread, entry)) return fail("invalid Codex MCP table");
    return std::optional<std::string>(std::move(updated));
}

Result<std::optional<std::string>> claude_settings(const std::optional<std::string>& bytes,
                                                   const fs::path& executable, const fs::path& config) {
    Json doc = Json::object();
    if (bytes) {
        TRY_LET(parsed, parse(*bytes));
        doc = std::move(parsed);
    }
    if (!doc.is_object()) return fail("invalid Claude configuration");
    if (!doc.contains("mcpServers")) doc["mcpServers"] = Json::object();
    Json& servers = doc["mcpServers"];
    if (!servers.is_object()) return fail("invalid Claude MCP configuration");
    TRY_LET(entry, server_entry(executable, config));
    Json desired = {{"type", "stdio"},
                    {"command", entry.command},
                    {"args", Json::array({"mcp"})},
                    {"env", {{"TARN_AGENT_CONFIG", entry.config}}}};
    if (servers.contains("tarn")) {
        if (servers["tarn"] == desired) return std::optional<std::string>{};
        return fail("existing Claude tarn registration conflicts; unchanged");
    }
    servers["tarn"] = std::move(desired);
    return std::optional<std::string>(pretty(doc));
}

Status plan_host(std::string_view name, const HostInputs& in, Plan& plan) {
    if (name == "none") return {};
    const Host* host = nullptr;
    for (const Host& h : hosts)
        if (h.name == name) host = &h;
    if (!host) return fail("select codex,claude,pi or none");
    TRY(add(plan, in.home / host->skill_dir / "SKILL.md", in.skill, false, false, false));
    if (name == "pi") return add(plan, in.home / ".pi/agent/extensions/tarn.ts", std::string(adapter_text()), false,
                                 false, false);
    fs::path settings = in.home / (name == "codex" ? ".codex/config.toml" : ".claude.json");
    TRY_LET(current, existing(settings));
    // A view, not a copy: the file may be as large as the 128 MiB read bound.
    std::string_view text = current ? std::string_view(*current) : std::string_view();
    auto updated = name == "codex" ? codex_settings(text, in.executable, in.config)
                                   : claude_settings(current, in.executable, in.config);
    if (!updated) return fail(updated.error());
    if (!*updated) return {};
    return add_over(plan, settings, std::move(current), std::move(**updated), false, true, false);
}
