// The tool catalogue and the one tool-call operation shared by the MCP server
// and the command line's lookups.
#include "main/tools.hpp"

namespace {

// Long enough for any real query; short enough to bound what reaches the registry tool.
constexpr std::size_t argument_limit = 4096;

Json one_string_schema(const char* argument) {
    return {{"type", "object"},
            {"properties", {{argument, {{"type", "string"}}}}},
            {"required", {argument}},
            {"additionalProperties", false}};
}

Json prepare_schema() {
    return {{"type", "object"},
            {"properties",
             {{"recipe", {{"type", "object"}}}, {"client_reviewed", {{"type", "boolean"}, {"const", true}}}}},
            {"required", {"recipe", "client_reviewed"}},
            {"additionalProperties", false}};
}

Json tool(const char* name, const char* description, Json schema) {
    return {{"name", name}, {"description", description}, {"inputSchema", std::move(schema)}};
}

Json catalogue() {
    return {{"tools",
             {tool("search", "Search using a generalized technical query only.", one_string_schema("query")),
              tool("inspect", "Read a recipe.", one_string_schema("ref")),
              tool("context", "Compile a recipe context.", one_string_schema("ref")),
              tool("share", "Publish exact prepared digest only when requested or authorized by hook mode.",
                   one_string_schema("digest")),
              tool("prepare",
                   "Queue a locally generalized and privacy-reviewed recipe. Hook mode may publish it "
                   "automatically. No raw transcripts, project names, paths or business features.",
                   prepare_schema())}}};
}

const std::string* string_member(const Json& arguments, const char* member) {
    if (!arguments.is_object()) return nullptr;
    auto it = arguments.find(member);
    if (it == arguments.end() || !it->is_string()) return nullptr;
    return it->get_ptr<const std::string*>();
}

// A leading "-" could be taken for an option of the registry tool, and a NUL
// would cut the argument short on its way to it.
Result<std::string> bounded_argument(const Json& arguments, const char* member) {
    const std::string* text = string_member(arguments, member);
    if (!text || text->empty() || text->size() > argument_limit || text->front() == '-' ||
        text->find('\0') != std::string::npos)
        return fail("bounded query/ref required");
    return *text;
}

}  // namespace

const Json& tools_list() {
    static const Json list = catalogue();
    return list;
}

Json tool_result(const Result<Json>& outcome) {
    std::string text = outcome ? compact(*outcome) : outcome.error();
    return {{"content", Json::array({{{"type", "text"}, {"text", std::move(text)}}})}, {"isError", !outcome}};
}

Result<Json> App::call(std::string_view name, const Json& arguments) const {
    if (name == "share") {
        const std::string* digest = string_member(arguments, "digest");
        if (!digest) return fail("digest required");
        return share(*digest);
    }
    if (name == "prepare") return prepare(arguments);
    const char* member = name == "search" ? "query" : (name == "inspect" || name == "context") ? "ref" : nullptr;
    if (!member) return fail("unknown tool");
    TRY_LET(argument, bounded_argument(arguments, member));
    if (name == "search") TRY(text(config.private_terms, argument));
    return cli(std::string(name), std::move(argument));
}
