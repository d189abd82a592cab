// One MCP line through the server's handler: at most one response, always a
// single compact JSON-RPC line ending in one line feed, whose id is null or
// the request's own id; the tool methods run only after initialize.
#include <cstdlib>

#include "main/mcp.hpp"

namespace {

const App& app() {
    // A tool call may reach the registry bridge; /bin/false fails it at once.
    static const App instance{Config{"manual", "https://registry.example/", "/bin/false", {"orchid"}, {"docs.rs"}},
                              "/nonexistent/config.json", "/nonexistent/queue", {}};
    return instance;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view line(reinterpret_cast<const char*>(data), size);
    for (bool start : {false, true}) {
        bool initialized = start;
        auto response = handle_line(app(), line, initialized);
        if (start && !initialized) std::abort();  // the flag is never cleared
        if (!response) continue;
        if (response->empty() || response->back() != '\n' ||
            response->find('\n') != response->size() - 1)
            std::abort();
        auto value = parse(*response);
        if (!value || !value->is_object() || (*value)["jsonrpc"] != "2.0" || !value->contains("id")) std::abort();
        if (compact(*value) + "\n" != *response) std::abort();
        bool error = value->contains("error");
        if (error == value->contains("result")) std::abort();
        auto request = parse(line);
        const Json& id = (*value)["id"];
        if (!id.is_null() && (!request || !request->is_object() || !request->contains("id"))) std::abort();
        if (!start && !error && request && request->is_object()) {
            auto method = request->value("method", Json()).dump();
            if (method == "\"tools/list\"" || method == "\"tools/call\"")
                if (!initialized) std::abort();
        }
    }
    return 0;
}
