#pragma once
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "main/result.hpp"

struct sqlite3;
struct sqlite3_stmt;

namespace fs = std::filesystem;

// TARN_REGISTRY_DB, else $XDG_DATA_HOME/tarn/registry.sqlite3, else ~/.local/share/tarn/registry.sqlite3.
Result<fs::path> store_location();

// One prepared statement; parameters and columns are numbered as SQLite numbers them.
class Statement {
  public:
    explicit Statement(sqlite3_stmt* stmt) : stmt_(stmt) {}
    Statement(Statement&& other) noexcept;
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    Statement& operator=(Statement&&) = delete;
    ~Statement();

    Statement& bind(int index, std::string_view text);
    Statement& bind(int index, std::int64_t number);
    // True while a row is available; a failure carries the store's message.
    Result<bool> step();
    std::string text(int column) const;
    std::int64_t integer(int column) const;
    double real(int column) const;

  private:
    sqlite3_stmt* stmt_;
};

// The registry database: WAL journal, a busy timeout, the schema in place.
class Store {
  public:
    // Creates the store (directory 700, file 600) when it does not exist yet.
    static Result<Store> create(const fs::path& path, std::chrono::milliseconds timeout);
    // nullopt when there is no store yet, so that lookups never create one.
    static Result<std::optional<Store>> existing(const fs::path& path, std::chrono::milliseconds timeout);

    Store(Store&& other) noexcept;
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;
    Store& operator=(Store&&) = delete;
    ~Store();

    Result<Statement> prepare(std::string_view sql) const;
    Status exec(std::string_view sql) const;
    std::int64_t last_insert() const;
    // Copies the WAL back into the database and truncates it, waiting briefly for readers; best effort.
    void empty_wal() const;

  private:
    explicit Store(sqlite3* db) : db_(db) {}
    static Result<Store> open(const fs::path& path, std::chrono::milliseconds timeout);
    Result<bool> has_schema() const;
    Status add_schema(std::chrono::steady_clock::time_point deadline) const;

    sqlite3* db_;
};

// BEGIN IMMEDIATE; rolled back when it ends without `commit`.
class Transaction {
  public:
    static Result<Transaction> begin(const Store& store);
    Transaction(Transaction&& other) noexcept : store_(std::exchange(other.store_, nullptr)) {}
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    Transaction& operator=(Transaction&&) = delete;
    ~Transaction();
    Status commit();

  private:
    explicit Transaction(const Store& store) : store_(&store) {}
    const Store* store_;
};
