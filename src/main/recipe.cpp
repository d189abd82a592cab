#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <string>
#include <vector>

#include "main/app.hpp"
#include "main/screen.hpp"
#include "main/unicode.hpp"
#include "main/url.hpp"

namespace {

using Names = std::initializer_list<const char*>;
using Terms = std::vector<std::string>;

constexpr Names recipe_members = {
    "id",          "version",        "kind",    "title",         "intent",      "use_when",   "avoid_when",
    "ingredients", "implementation", "gotchas", "dont_overcook", "constraints", "validation", "languages",
    "docs"};
constexpr Names adaptation_members = {"guidance", "runtime_version", "tested"};
constexpr Names record_members = {"type", "package", "version", "checked_version", "checked_at", "url", "section"};

bool only_members(const Json& object, Names allowed) {
    for (const auto& member : object.items())
        if (std::none_of(allowed.begin(), allowed.end(), [&](const char* name) { return member.key() == name; }))
            return false;
    return true;
}

// The member's string, or nullptr when it is absent or not a string.
const std::string* string_member(const Json& object, const char* name) {
    auto it = object.find(name);
    return it != object.end() ? it->get_ptr<const std::string*>() : nullptr;
}

bool nonempty_array(const Json& object, const char* name) {
    auto it = object.find(name);
    return it != object.end() && it->is_array() && !it->empty();
}

// A slug names a lesson, not a place: no leading slash, only a-z, 0-9, "-" and "/".
bool slug(const std::string& id) {
    auto allowed = [](char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '/'; };
    return !id.starts_with('/') && std::all_of(id.begin(), id.end(), allowed);
}

// Only a plain JSON integer counts: the parser keeps 1.0 and 1e0 as floating point.
bool version_in_range(const Json& recipe) {
    auto it = recipe.find("version");
    if (it == recipe.end() || !it->is_number_integer()) return false;
    if (it->is_number_unsigned()) return it->get<std::uint64_t>() - 1 < std::uint64_t{INT32_MAX};
    std::int64_t v = it->get<std::int64_t>();
    return v >= 1 && v <= INT32_MAX;
}

Status envelope(const Json& candidate) {
    if (!candidate.is_object()) return fail("candidate must be an object");
    auto reviewed = candidate.find("client_reviewed");
    if (candidate.size() != 2 || reviewed == candidate.end() || !reviewed->is_boolean() || !reviewed->get<bool>())
        return fail("candidate requires only recipe and client_reviewed=true after local semantic review");
    auto recipe = candidate.find("recipe");
    if (recipe == candidate.end() || !recipe->is_object()) return fail("recipe object required");
    return {};
}

Status required_members(const Terms& terms, const Json& recipe) {
    for (const char* name : {"id", "kind", "title", "intent"}) {
        const std::string* text = string_member(recipe, name);
        if (!text || trim_white_space(*text).empty())
            return fail("id, kind, title and intent must be nonempty strings");
        TRY(App::text(terms, *text));
    }
    if (!slug(*string_member(recipe, "id"))) return fail("id must be a generic lowercase technical slug");
    if (!version_in_range(recipe)) return fail("positive integer version required");
    for (const char* name : {"implementation", "gotchas", "validation"})
        if (!nonempty_array(recipe, name)) return fail("implementation, gotchas and validation are required");
    return {};
}

// Every text member and guidance list, in member order; the required texts are screened again here.
Status guidance(const Terms& terms, const Json& recipe) {
    for (const auto& [name, value] : recipe.items()) {
        if (name == "version" || name == "docs" || name == "languages") continue;
        if (value.is_string()) {
            TRY(App::text(terms, value.get_ref<const std::string&>()));
        } else if (value.is_array()) {
            for (const Json& item : value) {
                if (!item.is_string()) return fail("guidance lists must contain only strings");
                TRY(App::text(terms, item.get_ref<const std::string&>()));
            }
        } else {
            return fail("unsupported guidance structure");
        }
    }
    return {};
}

Status adaptation(const Terms& terms, const Json& value) {
    if (!value.is_object()) return fail("language adaptation must be an object");
    if (!only_members(value, adaptation_members)) return fail("unsupported language metadata");
    for (const char* name : {"guidance", "runtime_version"}) {
        const std::string* text = string_member(value, name);
        if (!text || text->empty()) return fail("language guidance and runtime_version required");
        TRY(App::text(terms, *text));
    }
    auto tested = value.find("tested");
    if (tested == value.end() || !tested->is_boolean()) return fail("language tested must be an honest boolean");
    return {};
}

Status languages(const Terms& terms, const Json& recipe) {
    auto it = recipe.find("languages");
    if (it == recipe.end()) return {};
    if (!it->is_object()) return fail("languages must be an object");
    for (const auto& [name, value] : it->items()) {
        TRY(App::text(terms, name));
        TRY(adaptation(terms, value));
    }
    return {};
}

bool allowed_source(const UrlParts& url, const Terms& hosts) {
    return url.scheme == "https" && url.username.empty() && !url.has_password && !url.has_query && !url.has_port &&
           url.has_host && std::find(hosts.begin(), hosts.end(), url.host) != hosts.end();
}

// The URL is the one text that may hold "://", so it gets its own rule instead of the screen.
Status source_url(const Config& config, const Json& record) {
    const std::string* url = string_member(record, "url");
    if (!url) return fail("public URL required");
    std::optional<UrlParts> parts = parse_url(*url);
    if (!parts) return fail("invalid public source URL");
    if (!allowed_source(*parts, config.documentation_hosts))
        return fail(
            "source URL must use an explicitly allowed public HTTPS documentation host without credentials/query");
    // Parsers drop tab, line feed and carriage return anywhere in a URL, so a term split by them is whole again.
    std::string joined;
    std::remove_copy_if(url->begin(), url->end(), std::back_inserter(joined),
                        [](char c) { return c == '\t' || c == '\n' || c == '\r'; });
    TRY_LET(decoded, percent_decode(joined));
    if (has_private_term(config.private_terms, decoded)) return fail("private identifier in source URL");
    return {};
}

Status record(const Config& config, const Json& value) {
    if (!value.is_object()) return fail("documentation record required");
    if (!only_members(value, record_members)) return fail("unsupported documentation metadata");
    for (const char* name : {"type", "package", "version", "checked_version", "checked_at"}) {
        const std::string* text = string_member(value, name);
        if (!text || text->empty())
            return fail("documentation needs type, package, version, checked_version and checked_at");
        TRY(App::text(config.private_terms, *text));
    }
    TRY(source_url(config, value));
    auto section = value.find("section");
    if (section == value.end()) return {};
    if (!section->is_string()) return fail("section must be text");
    return App::text(config.private_terms, section->get_ref<const std::string&>());
}

Status docs(const Config& config, const Json& recipe) {
    if (!nonempty_array(recipe, "docs")) return fail("public versioned documentation required");
    for (const Json& value : recipe["docs"]) TRY(record(config, value));
    return {};
}

}  // namespace

Result<Json> App::recipe(const Json& candidate) const {
    TRY(envelope(candidate));
    const Json& recipe = candidate["recipe"];
    if (!only_members(recipe, recipe_members))
        return fail("unsupported recipe metadata; no repository, source artifacts, paths or product metadata allowed");
    TRY(required_members(config.private_terms, recipe));
    TRY(guidance(config.private_terms, recipe));
    TRY(languages(config.private_terms, recipe));
    TRY(docs(config, recipe));
    Json prepared = recipe;
    prepared["status"] = "generated";
    return prepared;
}
