#include "setup/hosts.hpp"

#include <gtest/gtest.h>

#include "main/json.hpp"
#include "setup/toml_bounds.hpp"
#include "support/process.hpp"

namespace {

const fs::path exe = "/home/ana/.local/bin/tarn-agent";
const fs::path cfg = "/home/ana/.config/tarn-agent/config.json";

const std::string tables =
    "[mcp_servers.tarn]\n"
    "command = \"/home/ana/.local/bin/tarn-agent\"\n"
    "args = [\"mcp\"]\n"
    "\n"
    "[mcp_servers.tarn.env]\n"
    "TARN_AGENT_CONFIG = \"/home/ana/.config/tarn-agent/config.json\"\n";

const std::string inline_entry =
    "tarn = { command = \"/home/ana/.local/bin/tarn-agent\", args = [\"mcp\"], env = { TARN_AGENT_CONFIG = "
    "\"/home/ana/.config/tarn-agent/config.json\" } }";

std::string codex(std::string_view text, const fs::path& e = exe, const fs::path& c = cfg) {
    auto r = codex_settings(text, e, c);
    if (!r) return "error: " + r.error();
    return r->value_or("unchanged");
}

std::string claude(const std::optional<std::string>& bytes) {
    auto r = claude_settings(bytes, exe, cfg);
    if (!r) return "error: " + r.error();
    return r->value_or("unchanged");
}

TEST(CodexSettings, AppendsTablesAndKeepsEveryExistingByte) {
    EXPECT_EQ(codex(""), "[mcp_servers]\n" + tables);
    std::string doc =
        "# my settings\nmodel = \"o3\"  # inline comment\n\n[mcp_servers.docs]\ncommand = \"docs\"\n"
        "args = [ 'serve' ]\n";
    EXPECT_EQ(codex(doc), doc + "\n" + tables);
    EXPECT_EQ(codex("[mcp_servers]\n# none yet"), "[mcp_servers]\n# none yet\n\n" + tables);
    // Dotted keys make the table too; the sub-table header is still allowed after them.
    EXPECT_EQ(codex("mcp_servers.docs.command = \"d\"\n"), "mcp_servers.docs.command = \"d\"\n\n" + tables);
    // What the size and nesting pass must read exactly as the parser does.
    std::string tricky =
        "\xEF\xBB\xBF\"quoted.key\" = 'C:\\path [x] # no comment'\n\"\" = 1\npi = 3.14e+0\nneg = -inf\n"
        "when = 1979-05-27 07:32:00.5-07:00\nat = 07:32:00\nhex = 0xDEAD_beef\n"
        "notes = \"\"\"a \"q\" [x] # y \\\n  z\"\"\"\"\"\nlit = '''it's [a.b] # c'''\n"
        "arr = [\n  1, # one\n  [2.5, -0.0],\n  { \"x.y\" = { z = true }, w.v = 'u' },\n]\n"
        "[[profiles]]\nname = \"a\"\n[[profiles]]\n[profiles.sub]\n'k.1' = false\n"
        "[ servers . \"a.b\" ]\nx = \"\\\"]\\u00e9\"\r\n";
    EXPECT_EQ(codex(tricky), tricky + "\n[mcp_servers]\n" + tables);
}

TEST(CodexSettings, SplicesIntoAnInlineTable) {
    EXPECT_EQ(codex("mcp_servers = {}\n"), "mcp_servers = { " + inline_entry + "}\n");
    // Columns count code points: the non-ASCII bytes before the brace must not shift the splice.
    EXPECT_EQ(codex("mcp_servers = { \"ü\" = { command = \"é–\" } }  # x\n"),
              "mcp_servers = { \"ü\" = { command = \"é–\" }, " + inline_entry + " }  # x\n");
}

TEST(CodexSettings, RecognisesAnExistingTarn) {
    std::string installed = "[mcp_servers.tarn]\ncommand = \"/home/ana/.local/bin/tarn-agent\"\nargs = [\"mcp\"]\n"
                            "startup_timeout_sec = 20\nenv = { TARN_AGENT_CONFIG = "
                            "\"/home/ana/.config/tarn-agent/config.json\", EXTRA = \"1\" }\n";
    EXPECT_EQ(codex(installed), "unchanged");
    EXPECT_EQ(codex("mcp_servers = { " + inline_entry + " }\n"), "unchanged");
    const std::string conflict = "error: existing Codex tarn registration conflicts; unchanged";
    EXPECT_EQ(codex("[mcp_servers.tarn]\ncommand = \"/home/ana/.local/bin/tarn-agent\"\nargs = [\"mcp\", \"x\"]\n"
                    "env = { TARN_AGENT_CONFIG = \"/home/ana/.config/tarn-agent/config.json\" }\n"),
              conflict);
    EXPECT_EQ(codex("[mcp_servers.tarn]\ncommand = \"/elsewhere\"\nargs = [\"mcp\"]\n"), conflict);
    EXPECT_EQ(codex("[mcp_servers]\ntarn = \"on\"\n"), conflict);
}

TEST(CodexSettings, RefusesWhatItCannotEditSafely) {
    EXPECT_EQ(codex("[[mcp_servers]]\ncommand = \"x\"\n"), "error: invalid Codex MCP table");
    EXPECT_EQ(codex("mcp_servers = 3\n"), "error: invalid Codex MCP table");
    EXPECT_EQ(codex("title = \"\xff\"\n"), "error: invalid Codex config");
    const std::string invalid = "error: invalid Codex TOML; unchanged";
    EXPECT_EQ(codex("[mcp_servers\n"), invalid);
    // Header keys, array elements and date-times that toml++ asserts are impossible.
    for (std::string bad : {"[[[\n", "[=]\n", "[ .a]\n", "a = 1\n[{}]\n", "a = [}\n", "a = [1,}]\n",
                            "a = [\xE2\x80\xA8]\n", "a = 1979-05-27 0\n", "a = [1979-05-27 0]\n",
                            "a = 1979-05-27T.7:32:00Z\n"})
        EXPECT_EQ(codex(bad), invalid) << bad;
    // Keys deep enough to overflow its stack.
    auto deep = [](std::size_t parts) {
        std::string key = "a";
        for (std::size_t i = 1; i < parts; ++i) key += ".a";
        return key;
    };
    EXPECT_EQ(codex("[" + deep(200000) + "]\n"), invalid);
    auto outcome = [](const std::string& text) {
        auto r = codex(text);
        return r.starts_with("error") ? r : "merged";
    };
    for (std::size_t parts : {toml_depth_limit, toml_depth_limit + 1}) {
        std::string expected = parts > toml_depth_limit ? invalid : "merged";
        EXPECT_EQ(outcome(deep(parts) + " = 1\n"), expected) << parts;
        EXPECT_EQ(outcome("[" + deep(parts - 1) + "]\nb = {}\n"), expected) << parts;
        EXPECT_EQ(outcome("a = " + std::string(parts - 1, '[') + "1" + std::string(parts - 1, ']') + "\n"), expected)
            << parts;
    }
    // The key `a`, the array and its elements.
    for (std::size_t items : {toml_item_limit, toml_item_limit + 1}) {
        std::string values = "a = [0";
        for (std::size_t i = 3; i < items; ++i) values += ",0";
        EXPECT_EQ(outcome(values + "]\n"), items > toml_item_limit ? invalid : "merged") << items;
    }
    // Characters after a value that the TOML library's tables once led into
    // undefined behaviour (found by fuzzing); the size pass now stops them first.
    for (std::string after : {"\xEF\xBB\xBB", "\xC3\xA9", "\xE3\x81\x82", "\xEF\xB8\x8F"})
        EXPECT_EQ(codex("a = 7" + after + "\n"), invalid) << after;
    EXPECT_EQ(codex("# caf\xC3\xA9 \xE2\x9D\xA4\xEF\xB8\x8F\nname = \"\xE3\x81\x82\"\n").rfind("error", 0), std::string::npos);
    EXPECT_EQ(codex("", "/home/\xfe/bin/tarn-agent"), "error: invalid executable path");
    EXPECT_EQ(codex("", exe, "/home/\xfe/config.json"), "error: invalid config path");
}

TEST(CodexSettings, EscapesPathsAsBasicStrings) {
    auto text = codex("", "/h/a \"q\" \\b\t`/tarn-agent", "/h/\x7f/c.json");
    EXPECT_NE(text.find("command = \"/h/a \\\"q\\\" \\\\b\\u0009`/tarn-agent\"\n"), std::string::npos) << text;
    EXPECT_NE(text.find("TARN_AGENT_CONFIG = \"/h/\\u007F/c.json\"\n"), std::string::npos) << text;
}

TEST(ClaudeSettings, MergesTheServerAndSortsMembers) {
    Json tarn = {{"type", "stdio"},
                 {"command", exe.string()},
                 {"args", {"mcp"}},
                 {"env", {{"TARN_AGENT_CONFIG", cfg.string()}}}};
    EXPECT_EQ(claude(std::nullopt), pretty({{"mcpServers", {{"tarn", tarn}}}}));
    std::string doc = R"({"zeta": {"b": [1, 2.5, null], "a": true}, "mcpServers": {"docs": {"command": "d"}},
                         "alpha": "x"})";
    Json expected = Json::parse(doc);
    expected["mcpServers"]["tarn"] = tarn;
    EXPECT_EQ(claude(doc), pretty(expected));
    // Numbers a double cannot hold survive as written.
    std::string merged = claude(R"({"big":12345678901234567890123,"n":[18446744073709551616,-9223372036854775809],)"
                                R"("mcpServers":{}})");
    EXPECT_TRUE(merged.starts_with("{\n  \"big\": 12345678901234567890123,\n  \"mcpServers\": {")) << merged;
    EXPECT_TRUE(merged.ends_with("\"n\": [\n    18446744073709551616,\n    -9223372036854775809\n  ]\n}")) << merged;
    EXPECT_EQ(claude(R"({"mcpServers":{"tarn":{"env":{"TARN_AGENT_CONFIG":")" + cfg.string() +
                     R"("},"args":["mcp"],"command":")" + exe.string() + R"(","type":"stdio"}}})"),
              "unchanged");
    EXPECT_EQ(claude(R"({"mcpServers":{"tarn":{"type":"stdio","command":")" + exe.string() +
                     R"(","args":["mcp"],"env":{"TARN_AGENT_CONFIG":")" + cfg.string() + R"(","X":"1"}}}})"),
              "error: existing Claude tarn registration conflicts; unchanged");
}

TEST(ClaudeSettings, RefusesDocumentsOfAnotherShape) {
    EXPECT_EQ(claude(""), "error: invalid JSON");
    EXPECT_EQ(claude("[]"), "error: invalid Claude configuration");
    EXPECT_EQ(claude(R"({"mcpServers": []})"), "error: invalid Claude MCP configuration");
}

TEST(PlanHost, PlansSkillThenRegistrationInSelectionOrder) {
    TempDir t;
    HostInputs in{t.path(), t / ".local/bin/tarn-agent", t / ".config/tarn-agent/config.json", "skill\n"};
    Plan plan;
    for (auto name : {"codex", "claude", "none", "pi"}) ASSERT_TRUE(plan_host(name, in, plan));
    std::vector<fs::path> paths;
    for (auto& change : plan) paths.push_back(change.path);
    EXPECT_EQ(paths, (std::vector<fs::path>{t / ".agents/skills/tl/SKILL.md", t / ".codex/config.toml",
                                            t / ".claude/skills/tl/SKILL.md", t / ".claude.json",
                                            t / ".pi/agent/skills/tl/SKILL.md", t / ".pi/agent/extensions/tarn.ts"}));
    write_file(t / ".pi/agent/extensions/tarn.ts", "// older adapter\n");
    EXPECT_EQ(plan_host("pi", in, plan).error(),
              "existing file conflicts; left unchanged: " + (t / ".pi/agent/extensions/tarn.ts").string());
}

}  // namespace
