#include <csignal>
#include <gtest/gtest.h>

#include "support/process.hpp"

namespace {

// The server may end while input is still being sent; the writer must see EPIPE, not die.
const auto sigpipe_ignored = std::signal(SIGPIPE, SIG_IGN);

std::string request(const std::string& id, const std::string& method, const std::string& extra = "") {
    return R"({"jsonrpc":"2.0","id":)" + id + R"(,"method":")" + method + "\"" + extra + "}\n";
}

const std::string initialize = request("1", "initialize", R"(,"params":{"protocolVersion":"2024-11-05"})");

std::string ok(const std::string& id, const std::string& result) {
    return R"({"id":)" + id + R"(,"jsonrpc":"2.0","result":)" + result + "}\n";
}
std::string error(const std::string& id, int code, const std::string& message) {
    return R"({"error":{"code":)" + std::to_string(code) + R"(,"message":")" + message + R"("},"id":)" + id +
           R"(,"jsonrpc":"2.0"})" "\n";
}
std::string parse_error() { return error("null", -32700, "Parse error"); }
std::string invalid() { return error("null", -32600, "Invalid request"); }
std::string refused(const std::string& id) { return error(id, -32601, "unsupported method or initialize required"); }
std::string tool(bool is_error, const std::string& text) {
    return R"({"content":[{"text":")" + text + R"(","type":"text"}],"isError":)" + (is_error ? "true" : "false") + "}";
}

const std::string initialized_reply = ok(
    "1", R"({"capabilities":{"tools":{}},"instructions":"Use the tl skill to anonymize locally. Never send raw code, )"
         R"(paths or product context. Manual sharing requires explicit user intent; hook mode requires prior opt-in.",)"
         R"("protocolVersion":"2025-11-25","serverInfo":{"name":"tarn-agent","version":"0.1.0"}})");

struct Mcp : ::testing::Test {
    AgentHome home;
    // A whole session: everything the server wrote must equal `expected`.
    void expect_session(const std::string& input, const std::string& expected) {
        Outcome r = home.run({"mcp"}, input);
        EXPECT_EQ(r.out, expected);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.status, 0);
    }
};

TEST_F(Mcp, MalformedLinesAndEnvelopesGetNullIds) {
    std::string nested127 = std::string(127, '[') + std::string(127, ']') + "\n";
    std::string nested128 = std::string(128, '[') + std::string(128, ']') + "\n";
    expect_session("\n"                                       // blank line
                   "{} {}\n"                                  // two values
                   "{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"ping\"\n"  // cut short
                   "{\"jsonrpc\":\"2.0\",\"id\":\"\xC3\x28\",\"method\":\"ping\"}\n" +  // not UTF-8
                       nested128 + nested127 +
                       "[" + request("1", "ping").substr(0, request("1", "ping").size() - 1) + "]\n"  // a batch
                       R"({"jsonrpc":2.0,"id":1,"method":"ping"})" "\n"
                       R"({"jsonrpc":"2.0 ","id":1,"method":"ping"})" "\n"
                       R"({"jsonrpc":"2.0 ","method":"ping"})" "\n"
                       R"({"id":1,"method":"ping"})" "\n"
                       "\"2.0\"\n",
                   parse_error() + parse_error() + parse_error() + parse_error() + parse_error() + invalid() +
                       invalid() + invalid() + invalid() + invalid() + invalid() + invalid());
}

TEST_F(Mcp, IdsAreEchoedAndNotificationsGetNothing) {
    expect_session(request("null", "ping") +                         // null counts as an id
                       request(R"({"b":[1,{"d":2,"c":3}],"a":"x"})", "ping") + request(R"("s-1")", "ping") +
                       request("-9007199254740993", "ping") + request("true", "ping") +
                       R"({"jsonrpc":"2.0","method":"tools/list"})" "\n"  // notifications: silence
                       R"({"jsonrpc":"2.0","method":"notifications/cancelled","params":{"requestId":1}})" "\n"
                       R"({"jsonrpc":"2.0","method":"bogus"})" "\n"
                       R"({"jsonrpc":"2.0","id":7})" "\n"  // no method
                       R"({"jsonrpc":"2.0","id":8,"method":42})" "\n" +
                       request(R"("d")", "server/discover") + request("9", "Ping") + request("10", "ping ") +
                       "  " + request("11", "ping").substr(0, request("11", "ping").size() - 1) + " \r\n",  // CRLF
                   ok("null", "{}") + ok(R"({"a":"x","b":[1,{"c":3,"d":2}]})", "{}") + ok(R"("s-1")", "{}") +
                       ok("-9007199254740993", "{}") + ok("true", "{}") + refused("7") + refused("8") +
                       refused(R"("d")") + refused("9") + refused("10") + ok("11", "{}"));
}

TEST_F(Mcp, ToolMethodsNeedAnAnsweredInitialize) {
    std::string list = request("2", "tools/list");
    std::string call = request("3", "tools/call", R"(,"params":{"name":"nope"})");
    std::string initialize_notification = R"({"jsonrpc":"2.0","method":"initialize","params":{}})" "\n";
    expect_session(request("0", "ping") + list + call + initialize_notification + list + initialize +
                       R"({"jsonrpc":"2.0","method":"notifications/initialized"})" "\n" + call + initialize,
                   ok("0", "{}") + refused("2") + refused("3") + refused("2") + initialized_reply +
                       ok("3", tool(true, "unknown tool")) + initialized_reply);
}

TEST_F(Mcp, ToolCallFailuresAreResults) {
    auto call = [](int id, const std::string& params) {
        return request(std::to_string(id), "tools/call", params.empty() ? "" : ",\"params\":" + params);
    };
    expect_session(initialize + call(1, "") + call(2, "null") + call(3, "[1]") + call(4, R"({"name":7})") +
                       call(5, R"({"name":"tarn.search","arguments":{"query":"x"}})") +
                       call(6, R"({"name":"Search","arguments":{"query":"x"}})") +
                       call(7, R"({"name":"share","arguments":{"digest":42}})") + call(8, R"({"name":"share"})") +
                       call(9, R"({"name":"search"})") + call(10, R"({"name":"search","arguments":{"query":""}})") +
                       call(11, R"({"name":"inspect","arguments":{"ref":"-rf"}})") +
                       call(12, R"({"name":"context","arguments":{"ref":5}})") +
                       call(13, R"({"name":"search","arguments":"query"})"),
                   initialized_reply + ok("1", tool(true, "unknown tool")) + ok("2", tool(true, "unknown tool")) +
                       ok("3", tool(true, "unknown tool")) + ok("4", tool(true, "unknown tool")) +
                       ok("5", tool(true, "unknown tool")) + ok("6", tool(true, "unknown tool")) +
                       ok("7", tool(true, "digest required")) + ok("8", tool(true, "digest required")) +
                       ok("9", tool(true, "bounded query/ref required")) +
                       ok("10", tool(true, "bounded query/ref required")) +
                       ok("11", tool(true, "bounded query/ref required")) +
                       ok("12", tool(true, "bounded query/ref required")) +
                       ok("13", tool(true, "bounded query/ref required")));
}

TEST_F(Mcp, LastLineWithoutLineFeedIsAnswered) {
    std::string last = request("\"end\"", "ping");
    last.pop_back();
    expect_session(request("1", "ping") + last, ok("1", "{}") + ok("\"end\"", "{}"));
}

// A ping padded with spaces to exactly `size` bytes, line feed included when `lf`.
std::string padded_ping(std::size_t size, bool lf) {
    std::string line = request("1", "ping");
    line.pop_back();
    line += std::string(size - line.size() - (lf ? 1 : 0), ' ');
    return lf ? line + "\n" : line;
}

TEST_F(Mcp, LinesUpTo64KiBAreAccepted) {
    expect_session(padded_ping(65536, true) + padded_ping(65536, true) + padded_ping(65536, false),
                   ok("1", "{}") + ok("1", "{}") + ok("1", "{}"));
}

TEST_F(Mcp, LongerLinesEndTheServer) {
    for (bool lf : {true, false}) {
        Outcome r = home.run({"mcp"}, request("0", "ping") + padded_ping(65537, lf) + request("2", "ping"));
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, ok("0", "{}"));
        EXPECT_EQ(r.err, "tarn-agent: MCP message exceeds 64KiB\n");
    }
    Outcome r = home.run({"mcp"}, std::string(1 << 20, 'x'));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "tarn-agent: MCP message exceeds 64KiB\n");
}

TEST_F(Mcp, EmptyInputEndsCleanly) { expect_session("", ""); }

// Standard streams the server cannot use end it with a message, not a crash.
// The shell feeds the input, so the test never writes to a pipe the server left.
TEST_F(Mcp, UnusableStreamsAreErrors) {
    auto agent_with = [&](const std::string& input, const std::string& redirection) {
        return run_program("/bin/sh", {"-c", input + " | \"$0\" mcp " + redirection, TARN_AGENT_BIN}, home.env);
    };
    Outcome closed_out = agent_with(R"(echo '{"jsonrpc":"2.0","id":1,"method":"ping"}')", ">&-");
    EXPECT_EQ(closed_out.status, 1);
    EXPECT_EQ(closed_out.err, "tarn-agent: stdout unavailable\n");
    Outcome directory_in = agent_with("true", "< /");
    EXPECT_EQ(directory_in.status, 1);
    EXPECT_EQ(directory_in.out, "");
    EXPECT_EQ(directory_in.err, "tarn-agent: stdin unavailable\n");
}

}  // namespace
