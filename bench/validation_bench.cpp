// Screening and validation cost per hook-sized input: one 16 KiB text, one 64 KiB candidate.
#include <benchmark/benchmark.h>

#include "main/app.hpp"
#include "main/screen.hpp"

namespace {

const std::vector<std::string> terms = {"orchid", "Orchid Labs", "o.chid"};

// Prose without any refused pattern, repeated to `bytes` bytes.
std::string prose(std::size_t bytes, std::string_view sentence) {
    std::string out;
    while (out.size() + sentence.size() <= bytes) out += sentence;
    out.append(bytes - out.size(), ' ');
    return out;
}

void ascii_text(benchmark::State& state) {
    std::string text = prose(text_limit, "Retry transient failures with capped, jittered exponential backoff. ");
    for (auto _ : state) benchmark::DoNotOptimize(App::text(terms, text));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(ascii_text);

void non_ascii_text(benchmark::State& state) {
    std::string text =
        prose(text_limit, "\xC3\x89tape \xE2\x80\x94 \xCE\xA3\xCE\xA6 \xD0\x9F\xD1\x80\xD0\xB8 \xC4\xB0 ");
    for (auto _ : state) benchmark::DoNotOptimize(App::text(terms, text));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(non_ascii_text);

// `texts` guidance strings of `each` bytes, spread over the lists, totalling about 64 KiB.
Json candidate(std::size_t texts, std::size_t each) {
    Json recipe = {{"id", "retry/jittered-exponential-backoff"},
                   {"version", 1},
                   {"kind", "pattern"},
                   {"title", "Retry with backoff"},
                   {"intent", "Spread retries out."},
                   {"languages", {{"python", {{"guidance", "g"}, {"runtime_version", "3.13"}, {"tested", false}}}}},
                   {"docs",
                    {{{"type", "api-reference"},
                      {"package", "python-stdlib"},
                      {"version", "3"},
                      {"checked_version", "3.13"},
                      {"checked_at", "2026-12-08"},
                      {"url", "https://docs.python.org/3/library/random.html#random.uniform"}}}}};
    const char* lists[] = {"implementation", "gotchas", "validation", "use_when", "avoid_when", "constraints"};
    std::string text = prose(each, "Sleep a random time below the capped window. ");
    for (std::size_t i = 0; i < texts; ++i) recipe[lists[i % std::size(lists)]].push_back(text);
    return {{"client_reviewed", true}, {"recipe", recipe}};
}

void recipe(benchmark::State& state) {
    App app;
    app.config.private_terms = terms;
    app.config.documentation_hosts = {"go.dev", "docs.python.org"};
    Json c = candidate(static_cast<std::size_t>(state.range(0)), static_cast<std::size_t>(state.range(1)));
    std::size_t bytes = compact(c).size();
    if (!app.recipe(c)) state.SkipWithError("candidate refused");
    for (auto _ : state) benchmark::DoNotOptimize(app.recipe(c));
    state.counters["candidate_bytes"] = static_cast<double>(bytes);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}
// Four 16 KiB texts, or a thousand short ones: the same 64 KiB, different per-text overhead.
BENCHMARK(recipe)->Args({4, 15900})->Args({1000, 60});

}  // namespace

BENCHMARK_MAIN();
