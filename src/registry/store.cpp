#include "registry/store.hpp"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <thread>
#include <utility>

#include "main/fd.hpp"

namespace {

constexpr std::string_view schema = R"sql(
CREATE TABLE IF NOT EXISTS recipes(
  key INTEGER PRIMARY KEY,
  origin TEXT NOT NULL,
  id TEXT NOT NULL,
  version INTEGER NOT NULL,
  content TEXT NOT NULL,
  published_at TEXT NOT NULL,
  UNIQUE(origin, id, version));
CREATE VIRTUAL TABLE IF NOT EXISTS recipe_text USING fts5(
  title, intent, kind, guidance, languages, tokenize = 'unicode61 remove_diacritics 2');
PRAGMA user_version = 1;
)sql";

bool busy(sqlite3* db) {
    int code = sqlite3_extended_errcode(db) & 0xff;
    return code == SQLITE_BUSY || code == SQLITE_LOCKED;
}

std::string store_failure(sqlite3* db) {
    if (busy(db))
        return "registry store is busy; try again or raise --timeout";
    return std::string("registry store failed: ") + sqlite3_errmsg(db);
}

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// Creates each missing directory on the way with mode 700; existing ones are left as they are.
Status make_private_dirs(const fs::path& dir) {
    if (dir.empty() || dir == dir.root_path()) return {};
    struct stat st {};
    if (::stat(dir.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) return {};
        return fail("registry store directory is not a directory: " + dir.string());
    }
    TRY(make_private_dirs(dir.parent_path()));
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
        return fail("cannot create registry store directory " + dir.string());
    return {};
}

// The file is created here, not by SQLite, so that it is never readable by others.
Status make_private_file(const fs::path& path) {
    TRY(make_private_dirs(path.parent_path()));
    Fd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!fd && errno != EEXIST) return fail("cannot create registry store " + path.string());
    return {};
}

}  // namespace

Result<fs::path> store_location() {
    if (auto db = environment("TARN_REGISTRY_DB"); !db.empty()) return fs::path(db);
    if (auto data = environment("XDG_DATA_HOME"); !data.empty() && data.starts_with("/"))
        return fs::path(data) / "tarn/registry.sqlite3";
    if (auto home = environment("HOME"); !home.empty() && home.starts_with("/"))
        return fs::path(home) / ".local/share/tarn/registry.sqlite3";
    return fail("registry store location unknown; set TARN_REGISTRY_DB or HOME");
}

Statement::Statement(Statement&& other) noexcept : stmt_(std::exchange(other.stmt_, nullptr)) {}

Statement::~Statement() { sqlite3_finalize(stmt_); }

Statement& Statement::bind(int index, std::string_view text) {
    sqlite3_bind_text64(stmt_, index, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
    return *this;
}

Statement& Statement::bind(int index, std::int64_t number) {
    sqlite3_bind_int64(stmt_, index, number);
    return *this;
}

Result<bool> Statement::step() {
    int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    return fail(store_failure(sqlite3_db_handle(stmt_)));
}

std::string Statement::text(int column) const {
    auto bytes = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
    return bytes ? std::string(bytes, static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column))) : "";
}

std::int64_t Statement::integer(int column) const { return sqlite3_column_int64(stmt_, column); }

double Statement::real(int column) const { return sqlite3_column_double(stmt_, column); }

Store::Store(Store&& other) noexcept : db_(std::exchange(other.db_, nullptr)) {}

Store::~Store() { sqlite3_close_v2(db_); }

Result<Store> Store::open(const fs::path& path, std::chrono::milliseconds timeout) {
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW, nullptr);
    Store store(db);
    if (rc != SQLITE_OK) {
        if (!db) return fail("registry store unavailable");
        return fail(store_failure(db));
    }
    sqlite3_extended_result_codes(db, 1);
    // Every run is one short process: a checkpoint at each close would make every search recreate
    // and delete the WAL. Publications empty it instead (`empty_wal`).
    sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    sqlite3_busy_timeout(db, static_cast<int>(std::min<long long>(timeout.count(), INT_MAX)));
    return store;
}

Result<Store> Store::create(const fs::path& path, std::chrono::milliseconds timeout) {
    TRY(make_private_file(path));
    TRY_LET(store, open(path, timeout));
    TRY_LET(ready, store.has_schema());
    if (!ready) TRY(store.add_schema(std::chrono::steady_clock::now() + timeout));
    return store;
}

Result<std::optional<Store>> Store::existing(const fs::path& path, std::chrono::milliseconds timeout) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 && errno == ENOENT) return std::optional<Store>();
    TRY_LET(store, open(path, timeout));
    // A store another process has only just created counts as empty until its schema lands.
    TRY_LET(ready, store.has_schema());
    if (!ready) return std::optional<Store>();
    return std::optional<Store>(std::move(store));
}

Result<bool> Store::has_schema() const {
    TRY_LET(stmt, prepare("PRAGMA user_version"));
    TRY_LET(row, stmt.step());
    return row && stmt.integer(0) >= 1;
}

Status Store::add_schema(std::chrono::steady_clock::time_point deadline) const {
    // The journal mode cannot change inside a transaction; it is set once and persists in the file.
    // The switch needs the file to itself and SQLite does not wait for that, so wait here.
    for (;;) {
        auto switched = exec("PRAGMA journal_mode = WAL");
        if (switched) break;
        if (!busy(db_) || std::chrono::steady_clock::now() >= deadline) return switched;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    TRY_LET(tx, Transaction::begin(*this));
    TRY(exec(schema));
    return tx.commit();
}

Result<Statement> Store::prepare(std::string_view sql) const {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), &stmt, nullptr) != SQLITE_OK)
        return fail(store_failure(db_));
    return Statement(stmt);
}

Status Store::exec(std::string_view sql) const {
    if (sqlite3_exec(db_, std::string(sql).c_str(), nullptr, nullptr, nullptr) != SQLITE_OK)
        return fail(store_failure(db_));
    return {};
}

std::int64_t Store::last_insert() const { return sqlite3_last_insert_rowid(db_); }

void Store::empty_wal() const {
    // The first process to open the store replays the whole WAL, so it must not grow from run to run;
    // a publication that cannot empty it now leaves that to the next one.
    sqlite3_busy_timeout(db_, 200);
    (void)exec("PRAGMA wal_checkpoint(TRUNCATE)");
}

Result<Transaction> Transaction::begin(const Store& store) {
    TRY(store.exec("BEGIN IMMEDIATE"));
    return Transaction(store);
}

Transaction::~Transaction() {
    if (store_) (void)store_->exec("ROLLBACK");
}

Status Transaction::commit() {
    TRY(std::exchange(store_, nullptr)->exec("COMMIT"));
    return {};
}
