#include <gtest/gtest.h>

#include "main/tools.hpp"
#include "support/process.hpp"

namespace {

std::string schema(const std::string& argument) {
    return R"({"additionalProperties":false,"properties":{")" + argument + R"(":{"type":"string"}},"required":[")" +
           argument + R"("],"type":"object"})";
}

TEST(ToolsList, FiveToolsInOrderWithExactSchemas) {
    std::string expected =
        R"({"tools":[)"
        R"({"description":"Search using a generalized technical query only.","inputSchema":)" + schema("query") +
        R"(,"name":"search"},)"
        R"({"description":"Read a recipe.","inputSchema":)" + schema("ref") + R"(,"name":"inspect"},)"
        R"({"description":"Compile a recipe context.","inputSchema":)" + schema("ref") + R"(,"name":"context"},)"
        R"({"description":"Publish exact prepared digest only when requested or authorized by hook mode.",)"
        R"("inputSchema":)" + schema("digest") + R"(,"name":"share"},)"
        R"({"description":"Queue a locally generalized and privacy-reviewed recipe. Hook mode may publish it )"
        R"(automatically. No raw transcripts, project names, paths or business features.","inputSchema":)"
        R"({"additionalProperties":false,"properties":{"client_reviewed":{"const":true,"type":"boolean"},)"
        R"("recipe":{"type":"object"}},"required":["recipe","client_reviewed"],"type":"object"},"name":"prepare"}]})";
    EXPECT_EQ(compact(tools_list()), expected);
}

TEST(ToolResult, WrapsValueCompactlyAndMessageVerbatim) {
    Result<Json> value = Json::parse(R"({"z":[1, 2],"a":"é\n"})");
    EXPECT_EQ(compact(tool_result(value)),
              R"({"content":[{"text":"{\"a\":\"é\\n\",\"z\":[1,2]}","type":"text"}],"isError":false})");
    EXPECT_EQ(compact(tool_result(fail("unknown tool"))),
              R"({"content":[{"text":"unknown tool","type":"text"}],"isError":true})");
    EXPECT_EQ(compact(tool_result(Json())), R"({"content":[{"text":"null","type":"text"}],"isError":false})");
}

struct Call : ::testing::Test {
    TempDir dir;
    App app;
    Call() {
        app.config.private_terms = {"orchid"};
        app.config.tarn_bin = "/nonexistent/tarn";
        app.queue = dir.path();
    }
    std::string error(std::string_view name, const std::string& arguments) {
        auto outcome = app.call(name, Json::parse(arguments));
        return outcome ? "value " + compact(*outcome) : outcome.error();
    }
};

TEST_F(Call, NamesAreExactAndCaseSensitive) {
    for (std::string name : {"", "Search", "SEARCH", "tarn.search", "search ", " search", "tools/call", "publish"})
        EXPECT_EQ(error(name, R"({"query":"retry"})"), "unknown tool") << name;
}

TEST_F(Call, ShareNeedsAStringDigest) {
    for (std::string arguments : {R"({"digest":42})", R"({"digest":null})", R"({"digest":["a"]})", R"({})",
                                  R"(null)", R"(["digest"])", R"("abc")"})
        EXPECT_EQ(error("share", arguments), "digest required") << arguments;
}

TEST_F(Call, LookupsNeedABoundedStringNotStartingWithHyphen) {
    std::string too_long(4097, 'a');
    std::string multibyte_too_long;
    for (int i = 0; i < 1366; ++i) multibyte_too_long += "\xE2\x82\xAC";  // 4098 bytes, 1366 characters
    for (std::string name : {"search", "inspect", "context"}) {
        std::string member = name == "search" ? "query" : "ref";
        for (std::string arguments :
             {"{\"" + member + "\":\"\"}", "{\"" + member + "\":\"-x\"}", "{\"" + member + "\":\"a\\u0000-x\"}", "{\"" + member + "\":\"-\"}",
              "{\"" + member + "\":42}", "{\"" + member + "\":null}", std::string("null"), std::string("{}"),
              std::string("[\"retry\"]"), "{\"" + member + "\":\"" + too_long + "\"}",
              "{\"" + member + "\":\"" + multibyte_too_long + "\"}",
              std::string(name == "search" ? R"({"ref":"retry"})" : R"({"query":"retry"})")})
            EXPECT_EQ(error(name, arguments), "bounded query/ref required") << name << " " << arguments.substr(0, 40);
    }
}

// The command line builds the same arguments, so its refusals match the tool's.
TEST(LookupCommands, RefuseBeforeRunningTheRegistryTool) {
    AgentHome home;
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    for (const Case& c : std::vector<Case>{{{"search"}, "query/ref required"},
                                           {{"inspect"}, "query/ref required"},
                                           {{"context"}, "query/ref required"},
                                           {{"search", ""}, "bounded query/ref required"},
                                           {{"search", "--json"}, "bounded query/ref required"},
                                           {{"inspect", "-r"}, "bounded query/ref required"},
                                           {{"context", std::string(4097, 'r')}, "bounded query/ref required"}}) {
        Outcome r = home.run(c.args);
        EXPECT_EQ(r.status, 1) << c.args[0];
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "tarn-agent: " + c.message + "\n");
    }
    EXPECT_EQ(list_dir(home.queue), std::vector<std::string>{});
}

// A registry tool that records every call, to prove what reached it.
struct RecordingHome : AgentHome {
    fs::path log = home / "calls.log";
    RecordingHome() {
        fs::path tool = home / "tarn.sh";
        write_file(tool,
                   "#!/bin/sh\nprintf '%s|' \"$@\" >> '" + log.string() + "'\necho >> '" + log.string() +
                       "'\nprintf '{\"z\":[1, 2, 12345678901234567890123, 1e0],\"a\":\"%s\"}' \"$2\"\n",
                   fs::perms(0700));
        configure(R"({"tarn_bin":")" + tool.string() + R"("})");
    }
    std::string calls() const { return fs::exists(log) ? read_file(log) : "(none)"; }
};

TEST(Screening, PrivateQueriesNeverReachTheRegistryTool) {
    RecordingHome home;
    const std::string refused = "private identifier or invalid text; generalize locally before sharing";
    for (std::string query : {"orchid", "retry ORCHID backoff", "Orchid"}) {
        Outcome r = home.run({"search", query});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "tarn-agent: " + refused + "\n");
    }
    Outcome mcp = home.run({"mcp"}, R"({"jsonrpc":"2.0","id":1,"method":"initialize"})" "\n"
                                     R"({"jsonrpc":"2.0","id":2,"method":"tools/call","params":{"name":"search",)"
                                     R"("arguments":{"query":"orchid pool"}}})" "\n");
    EXPECT_EQ(mcp.status, 0);
    EXPECT_TRUE(mcp.out.ends_with(R"({"id":2,"jsonrpc":"2.0","result":{"content":[{"text":")" + refused +
                                  R"(","type":"text"}],"isError":true}})" "\n"))
        << mcp.out;
    EXPECT_EQ(home.calls(), "(none)");
}

std::string tool_call(int id, const std::string& name, const std::string& arguments) {
    return R"({"jsonrpc":"2.0","id":)" + std::to_string(id) + R"(,"method":"tools/call","params":{"name":")" + name +
           R"(","arguments":)" + arguments + "}}\n";
}

std::string tool_reply(int id, bool is_error, const std::string& text) {
    return R"({"id":)" + std::to_string(id) + R"(,"jsonrpc":"2.0","result":{"content":[{"text":")" + text +
           R"(","type":"text"}],"isError":)" + (is_error ? "true" : "false") + "}}\n";
}

// Arguments at the bound pass unchanged; the registry tool's JSON comes back compact and sorted, with
// every number it holds: one beyond a double's reach as written.
TEST(Lookups, ReachTheRegistryToolWithExactArguments) {
    RecordingHome home;
    std::string longest(4096, 'q');
    Outcome cli = home.run({"search", longest, "ignored"});
    EXPECT_EQ(cli.status, 0) << cli.err;
    EXPECT_EQ(cli.out, R"({"a":")" + longest + R"(","z":[1,2,12345678901234567890123,1.0]})" "\n");

    std::string accented;
    for (int i = 0; i < 2048; ++i) accented += "\xC3\xA9";  // 4096 bytes, 2048 characters
    Outcome mcp = home.run({"mcp"}, R"({"jsonrpc":"2.0","id":0,"method":"initialize"})" "\n" +
                                        tool_call(1, "search", R"({"query":")" + accented + R"(","extra":1})") +
                                        tool_call(2, "inspect", R"({"ref":"orchid@2"})") +
                                        tool_call(3, "context", R"({"ref":"r","query":"orchid"})") +
                                        tool_call(4, "share", R"({"digest":""})") +
                                        tool_call(5, "prepare", R"({"recipe":{}})"));
    EXPECT_EQ(mcp.status, 0);
    std::string replies = mcp.out.substr(mcp.out.find('\n') + 1);
    EXPECT_EQ(replies, tool_reply(1, false, R"({\"a\":\")" + accented + R"(\",\"z\":[1,2,12345678901234567890123,1.0]})") +
                           tool_reply(2, false, R"({\"a\":\"orchid@2\",\"z\":[1,2,12345678901234567890123,1.0]})") +
                           tool_reply(3, false, R"({\"a\":\"r\",\"z\":[1,2,12345678901234567890123,1.0]})") +
                           tool_reply(4, true, "share requires the exact prepared SHA-256 digest") +
                           tool_reply(5, true,
                                      "candidate requires only recipe and client_reviewed=true after local "
                                      "semantic review"));
    EXPECT_EQ(home.calls(), "search|" + longest + "|--json|--timeout|10s|\nsearch|" + accented +
                                "|--json|--timeout|10s|\ninspect|orchid@2|--json|--timeout|10s|\n"
                                "context|r|--json|--timeout|10s|\n");
}

}  // namespace
