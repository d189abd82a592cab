#include "registry/registry.hpp"

#include <cstdlib>

#include "registry/store.hpp"

Result<Registry> Registry::from_environment(std::chrono::milliseconds timeout) {
    const char* url = std::getenv("TARN_URL");
    std::string origin = url ? url : "";
    // "https://host" and "https://host/" name the same registry.
    while (origin.ends_with("/")) origin.pop_back();
    if (origin.empty()) return fail("registry origin required; set TARN_URL");
    TRY_LET(store, store_location());
    return Registry{std::move(store), std::move(origin), timeout};
}

std::string recipe_ref(std::string_view id, std::int64_t version) {
    return std::string(id) + "@" + std::to_string(version);
}
