// parse: never crashes; what it accepts serialises to text that parses back to the same value.
#include <cstdlib>

#include "main/json.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    auto value = parse(bytes);
    if (!value) {
        if (value.error() != "invalid JSON") std::abort();
        return 0;
    }
    auto text = compact(*value);
    auto again = parse(text);
    // Floats may print differently, but must stay parseable and stable after one round.
    if (!again || compact(*again) != text) std::abort();
    if (!pretty(*value).empty() && !parse(pretty(*value))) std::abort();
    return 0;
}
