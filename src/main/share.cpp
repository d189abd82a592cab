// Publishing one queued recipe, at most once.
#include <algorithm>

#include "main/app.hpp"
#include "main/private_files.hpp"
#include "main/queue.hpp"
#include "main/share.hpp"
#include "main/unicode.hpp"

namespace {

constexpr std::string_view attempt_text = "inspect registry before any manual recovery\n";
constexpr std::string_view receipt_text = "published\n";

bool is_digest(std::string_view text) {
    return text.size() == 64 &&
           std::ranges::all_of(text, [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

// The queued recipe, re-read and checked against its digest and the current configuration.
Status check_queued(const App& app, const std::string& name, const fs::path& queued) {
    TRY_LET(bytes, bounded(queued));
    TRY_LET(value, parse(bytes));
    if (digest(value) != name) return fail("candidate changed since preview");
    if (!value.is_object()) return fail("invalid candidate");
    value.erase("status");
    TRY(app.recipe(Json{{"client_reviewed", true}, {"recipe", std::move(value)}}));
    return {};
}

}  // namespace

fs::path attempt_marker(const fs::path& queue, const std::string& digest) { return queue / (digest + ".attempt"); }

Result<Json> App::share(std::string_view requested) const {
    if (!is_digest(requested)) return fail("share requires the exact prepared SHA-256 digest");
    std::string name(requested);
    fs::path queued = queue / (name + ".json");
    TRY(check_queued(*this, name, queued));
    fs::path receipt = queue / (name + ".receipt");
    if (present(receipt)) return Json{{"digest", name}, {"status", "already_shared"}};
    // The marker must survive a crash before the registry hears of the recipe,
    // or a restart could publish it a second time.
    TRY(durable_write(attempt_marker(queue, name), attempt_text));
    TRY_LET(result, cli("publish", display_text(queued.native())));
    TRY(durable_write(receipt, receipt_text));
    return Json{{"digest", name}, {"result", std::move(result)}, {"status", "shared"}};
}
