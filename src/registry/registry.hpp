#pragma once
#include <chrono>
#include <filesystem>
#include <string>
#include <string_view>

#include "main/json.hpp"
#include "main/result.hpp"

namespace fs = std::filesystem;

// Where and for whom the operations run: the store, the registry origin, the busy timeout.
struct Registry {
    fs::path store;
    std::string origin;
    std::chrono::milliseconds timeout;

    // From TARN_URL and the store location rules.
    static Result<Registry> from_environment(std::chrono::milliseconds timeout);

    Result<Json> publish(std::string_view path, std::string_view token) const;
    Result<Json> search(std::string_view query) const;
    Result<Json> inspect(std::string_view ref) const;
    Result<Json> context(std::string_view ref) const;
};

// "ID@VERSION".
std::string recipe_ref(std::string_view id, std::int64_t version);
