// `inspect REF` and `context REF`: one stored recipe, as stored or composed for use.
#include <charconv>
#include <optional>

#include "registry/match_query.hpp"
#include "registry/recipe_text.hpp"
#include "registry/registry.hpp"
#include "registry/store.hpp"

namespace {

constexpr std::size_t related_words = 32;

struct Ref {
    std::string id;
    std::optional<std::int64_t> version;  // none: the newest
};

Result<Ref> parse_ref(std::string_view text) {
    auto at = text.rfind('@');
    if (at == std::string_view::npos) {
        if (text.empty()) return fail("invalid recipe reference");
        return Ref{std::string(text), std::nullopt};
    }
    std::string_view digits = text.substr(at + 1);
    std::int64_t version = 0;
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), version);
    if (at == 0 || digits.empty() || ec != std::errc() || end != digits.data() + digits.size() || version < 1)
        return fail("invalid recipe reference");
    return Ref{std::string(text.substr(0, at)), version};
}

struct Stored {
    Json recipe;
    std::string id;
};

Result<Stored> load(const Store& db, const std::string& origin, const Ref& ref) {
    TRY_LET(stmt, db.prepare("SELECT content, version, published_at FROM recipes "
                             "WHERE origin = ?1 AND id = ?2 AND (?3 IS NULL OR version = ?3) "
                             "ORDER BY version DESC LIMIT 1"));
    stmt.bind(1, origin).bind(2, ref.id);
    if (ref.version) stmt.bind(3, *ref.version);
    TRY_LET(row, stmt.step());
    if (!row) return fail("recipe not found");
    auto recipe = parse(stmt.text(0));
    if (!recipe || !recipe->is_object()) return fail("stored recipe is damaged");
    (*recipe)["ref"] = recipe_ref(ref.id, stmt.integer(1));
    (*recipe)["published_at"] = stmt.text(2);
    (*recipe)["origin"] = origin;
    return Stored{std::move(*recipe), ref.id};
}

struct Found {
    Store db;
    Stored stored;
};

Result<Found> find(const Registry& registry, std::string_view text) {
    TRY_LET(ref, parse_ref(text));
    TRY_LET(db, Store::existing(registry.store, registry.timeout));
    if (!db) return fail("recipe not found");
    TRY_LET(stored, load(*db, registry.origin, ref));
    return Found{std::move(*db), std::move(stored)};
}

// Up to three other recipes whose title and intent share the most with this one's.
Result<Json> related(const Store& db, const std::string& origin, const Stored& stored) {
    auto text = indexed_text(stored.recipe);
    std::string words = any_word(query_words(text.title + " " + text.intent, related_words));
    Json list = Json::array();
    if (words.empty()) return list;
    TRY_LET(stmt, db.prepare("SELECT r.id, r.version, recipe_text.title "
                              "FROM recipe_text JOIN recipes AS r ON r.key = recipe_text.rowid "
                              "WHERE recipe_text MATCH ?1 AND r.origin = ?2 AND r.id <> ?3 "
                              "ORDER BY bm25(recipe_text, 10.0, 4.0, 3.0, 1.0, 1.0), r.id LIMIT 3"));
    stmt.bind(1, "{title intent} : (" + words + ")").bind(2, origin).bind(3, stored.id);
    for (;;) {
        TRY_LET(row, stmt.step());
        if (!row) break;
        list.push_back({{"ref", recipe_ref(stmt.text(0), stmt.integer(1))}, {"title", stmt.text(2)}});
    }
    return list;
}

Json member_or(const Json& recipe, std::string_view name, Json fallback) {
    auto member = recipe.find(name);
    return member != recipe.end() && member->type() == fallback.type() ? *member : fallback;
}

}  // namespace

Result<Json> Registry::inspect(std::string_view ref) const {
    TRY_LET(found, find(*this, ref));
    return std::move(found.stored.recipe);
}

Result<Json> Registry::context(std::string_view ref) const {
    TRY_LET(found, find(*this, ref));
    const Json& recipe = found.stored.recipe;
    Json composed = {{"ref", recipe["ref"]},
                     {"title", text_member(recipe, "title")},
                     {"kind", text_member(recipe, "kind")},
                     {"intent", text_member(recipe, "intent")},
                     {"languages", member_or(recipe, "languages", Json::object())},
                     {"docs", member_or(recipe, "docs", Json::array())}};
    for (auto name : guidance_lists) composed[std::string(name)] = guidance_list(recipe, name);
    TRY_LET(others, related(found.db, origin, found.stored));
    composed["related"] = std::move(others);
    return composed;
}
