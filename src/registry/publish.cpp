// `publish PATH`: store one recipe under (origin, id, version), once.
#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>

#include "main/fd.hpp"
#include "registry/recipe_text.hpp"
#include "registry/registry.hpp"
#include "registry/store.hpp"

namespace {

constexpr std::size_t recipe_limit = 65536;
constexpr std::int64_t largest_version = 2147483647;

Result<std::string> read_recipe_file(std::string_view path) {
    // O_NONBLOCK: a FIFO in place of the file must not hang the publication.
    // O_NOFOLLOW: the companion checked the file itself, not what a link swapped
    // in after that check would point to.
    Fd fd(::open(std::string(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW));
    if (!fd && errno == ELOOP) return fail("recipe file must be a regular file");
    struct stat st {};
    if (!fd || ::fstat(fd.get(), &st) != 0) return fail("cannot read recipe file");
    if (!S_ISREG(st.st_mode)) return fail("recipe file must be a regular file");
    auto bytes = read_up_to(fd.get(), recipe_limit + 1);
    if (!bytes) return fail("cannot read recipe file");
    if (bytes->size() > recipe_limit) return fail("recipe file exceeds 64 KiB");
    return std::move(*bytes);
}

Status check_recipe(const Json& recipe) {
    if (!recipe.is_object()) return fail("recipe must be a JSON object");
    auto id = recipe.find("id");
    if (id == recipe.end() || !id->is_string() || id->get_ref<const std::string&>().empty() ||
        id->get_ref<const std::string&>().find('@') != std::string::npos)
        return fail("recipe id must be a non-empty string without '@'");
    auto version = recipe.find("version");
    bool whole = version != recipe.end() && version->is_number_integer();
    if (!whole || version->get<std::int64_t>() < 1 || version->get<std::int64_t>() > largest_version)
        return fail("recipe version must be an integer from 1 to 2147483647");
    auto title = recipe.find("title");
    if (title == recipe.end() || !title->is_string()) return fail("recipe title must be a string");
    return {};
}

std::string now_utc() {
    std::time_t now = std::time(nullptr);
    std::tm parts{};
    char text[32] = "";
    gmtime_r(&now, &parts);
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

struct Latest {
    std::int64_t key = 0;
    std::int64_t version = 0;
};

// The newest stored version of an id; version 0 when there is none.
Result<Latest> latest(const Store& store, const std::string& origin, const std::string& id) {
    TRY_LET(stmt, store.prepare("SELECT key, version FROM recipes WHERE origin = ?1 AND id = ?2 "
                                "ORDER BY version DESC LIMIT 1"));
    stmt.bind(1, origin).bind(2, id);
    TRY_LET(row, stmt.step());
    if (!row) return Latest{};
    return Latest{stmt.integer(0), stmt.integer(1)};
}

// The full-text index holds only the newest version of each recipe, so a search never lists an old one.
Status index_newest(const Store& store, const Json& recipe, std::int64_t key, Latest before) {
    if (before.version > recipe["version"].get<std::int64_t>()) return {};
    TRY_LET(drop, store.prepare("DELETE FROM recipe_text WHERE rowid = ?1"));
    drop.bind(1, before.key);
    TRY(drop.step());
    auto text = indexed_text(recipe);
    TRY_LET(add, store.prepare("INSERT INTO recipe_text(rowid, title, intent, kind, guidance, languages) "
                               "VALUES (?1, ?2, ?3, ?4, ?5, ?6)"));
    add.bind(1, key).bind(2, text.title).bind(3, text.intent).bind(4, text.kind).bind(5, text.guidance);
    add.bind(6, text.languages);
    TRY(add.step());
    return {};
}

// The content already stored for exactly this (origin, id, version), if any.
Result<std::optional<std::string>> stored_content(const Store& store, const std::string& origin,
                                                  const std::string& id, std::int64_t version) {
    TRY_LET(stmt, store.prepare("SELECT content FROM recipes WHERE origin = ?1 AND id = ?2 AND version = ?3"));
    stmt.bind(1, origin).bind(2, id).bind(3, version);
    TRY_LET(row, stmt.step());
    if (!row) return std::optional<std::string>();
    return std::optional<std::string>(stmt.text(0));
}

Status insert(const Store& store, const std::string& origin, const Json& recipe, const std::string& content) {
    const auto& id = recipe["id"].get_ref<const std::string&>();
    TRY_LET(before, latest(store, origin, id));
    TRY_LET(stmt, store.prepare("INSERT INTO recipes(origin, id, version, content, published_at) "
                                "VALUES (?1, ?2, ?3, ?4, ?5)"));
    stmt.bind(1, origin).bind(2, id).bind(3, recipe["version"].get<std::int64_t>()).bind(4, content);
    stmt.bind(5, now_utc());
    TRY(stmt.step());
    return index_newest(store, recipe, store.last_insert(), before);
}

}  // namespace

Result<Json> Registry::publish(std::string_view path, std::string_view token) const {
    if (token.empty()) return fail("publishing requires a token");
    TRY_LET(bytes, read_recipe_file(path));
    auto recipe = parse(bytes);
    if (!recipe) return fail("recipe file is not valid JSON");
    TRY(check_recipe(*recipe));
    const auto& id = (*recipe)["id"].get_ref<const std::string&>();
    auto version = (*recipe)["version"].get<std::int64_t>();
    // Compact form has sorted members and no spacing, so equal recipes compare byte for byte.
    std::string content = compact(*recipe);

    TRY_LET(db, Store::create(store, timeout));
    TRY_LET(tx, Transaction::begin(db));
    TRY_LET(existing, stored_content(db, origin, id, version));
    if (existing && *existing != content) return fail("version already published with different content");
    if (!existing) TRY(insert(db, origin, *recipe, content));
    TRY(tx.commit());
    db.empty_wal();
    return Json{{"ref", recipe_ref(id, version)}, {"status", existing ? "unchanged" : "published"}};
}
