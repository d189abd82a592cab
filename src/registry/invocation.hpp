#pragma once
#include <chrono>
#include <string>
#include <vector>

#include "main/result.hpp"

// One command line of the registry tool: `tarn OP OPERAND [--json] [--timeout DURATION]`.
struct Invocation {
    bool help = false;
    std::string operation;
    std::string operand;
    std::chrono::milliseconds timeout{10000};
};

// Every error of this parser is a usage error.
Result<Invocation> parse_invocation(const std::vector<std::string>& args);

// "10s", "500ms": a decimal count of seconds or milliseconds.
Result<std::chrono::milliseconds> parse_duration(std::string_view text);

extern const std::string_view usage_text;
