#pragma once
// The stand-in registry tool (fake_tarn.sh) and what it recorded.
#include <cstdlib>
#include <string>

#include "support/process.hpp"

inline std::string fake_tarn_path() { return std::string(TARN_SOURCE_DIR) + "/tests/support/fake_tarn.sh"; }

// A directory the fake tool records into; counts its invocations.
struct FakeTarnLog {
    TempDir dir;
    std::string record(const std::string& name) const { return read_file(dir / name); }
    std::size_t calls() const {
        std::string log = record("calls");
        return static_cast<std::size_t>(std::count(log.begin(), log.end(), '\n'));
    }
};

// Slow tests (a name starting with "Slow") are skipped when TARN_SKIP_SLOW=1.
#define SKIP_IF_SLOW_SKIPPED()                                                   \
    do {                                                                         \
        const char* skip_ = std::getenv("TARN_SKIP_SLOW");                       \
        if (skip_ && std::string(skip_) == "1") GTEST_SKIP() << "TARN_SKIP_SLOW=1"; \
    } while (0)
