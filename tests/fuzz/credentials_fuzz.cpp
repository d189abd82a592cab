// The credentials reader: one of its messages or pairs that obey the value rules.
#include <cstdlib>
#include <set>

#include "main/unicode.hpp"
#include "setup/credentials.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    auto pairs = credential_entries(text);
    if (!pairs) {
        static const std::set<std::string> messages = {
            "invalid credential file", "credential file requires literal KEY=value lines",
            "unknown or duplicate credential key",
            "credential values must be literal, unquoted and contain no whitespace", "invalid Tarn token format"};
        if (!messages.count(pairs.error())) std::abort();
        return 0;
    }
    std::set<std::string> names;
    for (auto& [name, value] : *pairs) {
        if (!names.insert(name).second || (name != "TARN_URL" && name != "TARN_TOKEN")) std::abort();
        if (has_white_space(value) || value.find_first_of("\"$';\\`") != std::string::npos) std::abort();
        if (name == "TARN_TOKEN" && !value.empty() && !value.starts_with("tl_")) std::abort();
    }
    return 0;
}
