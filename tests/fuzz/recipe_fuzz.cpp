// Candidate validation on arbitrary JSON. A prepared recipe is the input plus
// its status, and its compact form parses back to the same value and digest.
#include <cstdlib>

#include "main/app.hpp"
#include "main/queue.hpp"

namespace {

const App& app() {
    static const App instance{Config{"manual", "https://registry.example/", "/usr/bin/false", {"orchid", "\xC4\xB0stanbul"},
                                     {"go.dev", "docs.rs", "docs.python.org"}},
                              "/nonexistent/config.json", "/nonexistent/queue", {}};
    return instance;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto candidate = parse(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!candidate) return 0;
    auto prepared = app().recipe(*candidate);
    if (!prepared) {
        if (prepared.error().empty()) std::abort();
        return 0;
    }
    Json expected = (*candidate)["recipe"];
    expected["status"] = "generated";
    if (*prepared != expected) std::abort();
    auto reparsed = parse(compact(*prepared));
    if (!reparsed || *reparsed != *prepared || digest(*reparsed) != digest(*prepared)) std::abort();
    // Validation is deterministic and accepts its own output once the status is removed.
    Json again = *prepared;
    again.erase("status");
    if (app().recipe(Json{{"recipe", again}, {"client_reviewed", true}}) != prepared) std::abort();
    return 0;
}
