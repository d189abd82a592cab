// `search QUERY`: lexical full-text search over the newest version of each recipe.
#include "registry/match_query.hpp"
#include "registry/recipe_text.hpp"
#include "registry/registry.hpp"
#include "registry/store.hpp"

namespace {

constexpr std::size_t most_words = 64;
constexpr std::size_t intent_limit = 200;

// bm25 weights of title, intent, kind, guidance and languages: the title counts most.
constexpr std::string_view search_sql = R"sql(
SELECT r.id, r.version, recipe_text.title, recipe_text.kind, recipe_text.intent,
       bm25(recipe_text, 10.0, 4.0, 3.0, 1.0, 1.0) AS rank
FROM recipe_text JOIN recipes AS r ON r.key = recipe_text.rowid
WHERE recipe_text MATCH ?1 AND r.origin = ?2
ORDER BY rank, r.id
LIMIT 10
)sql";

Json result(Json hits) {
    return Json{{"hits", std::move(hits)}, {"mode", "lexical"}, {"warnings", Json::array({"lexical_degraded"})}};
}

// bm25 is lower for better matches; the score reads the other way round.
double score(double rank) { return -rank; }

}  // namespace

Result<Json> Registry::search(std::string_view query) const {
    std::string match = any_word(query_words(query, most_words));
    if (match.empty()) return result(Json::array());
    TRY_LET(db, Store::existing(store, timeout));
    if (!db) return result(Json::array());
    TRY_LET(stmt, db->prepare(search_sql));
    stmt.bind(1, match).bind(2, origin);
    Json hits = Json::array();
    for (;;) {
        TRY_LET(row, stmt.step());
        if (!row) break;
        hits.push_back({{"ref", recipe_ref(stmt.text(0), stmt.integer(1))},
                        {"title", stmt.text(2)},
                        {"kind", stmt.text(3)},
                        {"intent", shortened(stmt.text(4), intent_limit)},
                        {"score", score(stmt.real(5))}});
    }
    return result(std::move(hits));
}
