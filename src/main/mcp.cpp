// The MCP server: one JSON-RPC 2.0 message per line on standard input, one
// compact response line per request on standard output.
#include "main/mcp.hpp"

#include <cerrno>
#include <cstring>
#include <memory>
#include <unistd.h>

#include "main/fd.hpp"
#include "main/tools.hpp"

namespace {

// The largest accepted line, counting its line feed.
constexpr std::size_t line_limit = 65536;

constexpr std::string_view instructions =
    "Use the tl skill to anonymize locally. Never send raw code, paths or product context. Manual sharing requires "
    "explicit user intent; hook mode requires prior opt-in.";

const std::string& initialize_result() {
    static const std::string text = compact({{"capabilities", {{"tools", Json::object()}}},
                                             {"instructions", instructions},
                                             {"protocolVersion", "2025-11-25"},
                                             {"serverInfo", {{"name", "tarn-agent"}, {"version", "0.1.0"}}}});
    return text;
}

const std::string& catalogue_result() {
    static const std::string text = compact(tools_list());
    return text;
}

// Responses are spliced from compact pieces: the members already stand in
// byte order (error < id < jsonrpc < result), so the line equals compact()
// of the whole object without copying the result into a new value.
std::string success(const Json& id, std::string_view result) {
    std::string line = "{\"id\":";
    line += compact(id);
    line += ",\"jsonrpc\":\"2.0\",\"result\":";
    line += result;
    line += "}\n";
    return line;
}

std::string error(int code, std::string_view message, const Json& id) {
    return compact({{"error", {{"code", code}, {"message", message}}}, {"id", id}, {"jsonrpc", "2.0"}}) + "\n";
}

const Json& member_or_null(const Json& object, const char* name) {
    static const Json null_value;
    if (!object.is_object()) return null_value;
    auto it = object.find(name);
    return it == object.end() ? null_value : *it;
}

std::string_view string_or_empty(const Json& value) {
    return value.is_string() ? std::string_view(value.get_ref<const std::string&>()) : std::string_view();
}

std::string call_tool(const App& app, const Json& id, const Json& params) {
    std::string_view name = string_or_empty(member_or_null(params, "name"));
    const Json& arguments = member_or_null(params, "arguments");
    return success(id, compact(tool_result(app.call(name, arguments))));
}

std::string answer(const App& app, const Json& id, std::string_view method, const Json& message, bool& initialized) {
    if (method == "ping") return success(id, "{}");
    if (method == "initialize") {
        initialized = true;
        return success(id, initialize_result());
    }
    if (initialized && method == "tools/list") return success(id, catalogue_result());
    if (initialized && method == "tools/call") return call_tool(app, id, member_or_null(message, "params"));
    return error(-32601, "unsupported method or initialize required", id);
}

// Lines come from one buffer that keeps what was read beyond a line feed for
// the next line, so a client may send many messages in one write and memory
// stays bounded by the line limit whatever it sends.
class LineReader {
  public:
    // The next line (line feed included, if it had one), empty at the end of input.
    Result<std::string_view> next() {
        for (;;) {
            std::size_t held = end_ - begin_;
            std::size_t window = std::min(held, line_limit + 1);
            if (const void* lf = std::memchr(buffer_.get() + begin_, '\n', window)) {
                std::size_t size = static_cast<const char*>(lf) - (buffer_.get() + begin_) + 1;
                if (size > line_limit) return fail("MCP message exceeds 64KiB");
                return take(size);
            }
            if (held > line_limit) return fail("MCP message exceeds 64KiB");
            if (at_end_) return take(held);
            TRY(fill());
        }
    }

  private:
    static constexpr std::size_t capacity = 2 * line_limit;

    std::string_view take(std::size_t size) {
        std::string_view line(buffer_.get() + begin_, size);
        begin_ += size;
        return line;
    }

    Status fill() {
        if (begin_ > 0) {
            std::memmove(buffer_.get(), buffer_.get() + begin_, end_ - begin_);
            end_ -= begin_;
            begin_ = 0;
        }
        for (;;) {
            ssize_t n = ::read(STDIN_FILENO, buffer_.get() + end_, capacity - end_);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return fail("stdin unavailable");
            if (n == 0) at_end_ = true;
            end_ += static_cast<std::size_t>(n);
            return {};
        }
    }

    std::unique_ptr<char[]> buffer_ = std::make_unique_for_overwrite<char[]>(capacity);
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    bool at_end_ = false;
};

}  // namespace

std::optional<std::string> handle_line(const App& app, std::string_view bytes, bool& initialized) {
    static const Json null_id;
    auto message = parse(bytes);
    if (!message) return error(-32700, "Parse error", null_id);
    const Json& jsonrpc = member_or_null(*message, "jsonrpc");
    if (!message->is_object() || !jsonrpc.is_string() || jsonrpc.get_ref<const std::string&>() != "2.0")
        return error(-32600, "Invalid request", null_id);
    auto id = message->find("id");
    if (id == message->end()) return std::nullopt;
    std::string_view method = string_or_empty(member_or_null(*message, "method"));
    return answer(app, *id, method, *message, initialized);
}

Status mcp(const App& app) {
    LineReader reader;
    bool initialized = false;
    for (;;) {
        TRY_LET(line, reader.next());
        if (line.empty()) return {};
        auto response = handle_line(app, line, initialized);
        if (response && !write_all(STDOUT_FILENO, *response)) return fail("stdout unavailable");
    }
}
