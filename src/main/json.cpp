#include "main/json.hpp"

#include <algorithm>
#include <cstdint>
#include <set>
#include <vector>

namespace {

constexpr std::size_t max_depth = 127;

// A number that a double cannot hold (beyond 64-bit integers, more digits than
// a double keeps, below its range) is kept as written, in a binary value: JSON
// text never produces one, so it cannot be confused with anything parsed.
constexpr std::uint8_t raw_number = 'N';

// A decimal number as sign, significant digits and the place of the decimal point.
struct Decimal {
    bool negative = false;
    std::string digits;  // no leading or trailing zeros; empty for zero
    long long point = 0;  // value = 0.digits x 10^point
    bool operator==(const Decimal&) const = default;
};

// Reads a JSON number (already checked by the parser); the exponent saturates.
Decimal decimal(std::string_view text) {
    Decimal d;
    std::size_t i = 0;
    if (i < text.size() && text[i] == '-') d.negative = true, ++i;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) d.digits += text[i];
    d.point = static_cast<long long>(d.digits.size());
    if (i < text.size() && text[i] == '.')
        for (++i; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) d.digits += text[i];
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        bool minus = ++i < text.size() && text[i] == '-';
        if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
        long long exponent = 0;
        for (; i < text.size(); ++i) exponent = std::min(exponent * 10 + (text[i] - '0'), 1'000'000'000'000LL);
        d.point += minus ? -exponent : exponent;
    }
    std::size_t lead = d.digits.find_first_not_of('0');
    if (lead == std::string::npos) return Decimal{};  // zero, whatever its sign
    d.digits = d.digits.substr(lead, d.digits.find_last_not_of('0') + 1 - lead);
    d.point -= static_cast<long long>(lead);
    return d;
}

// The DOM builder plus a depth bound, and optionally a refusal of repeated
// names. nlohmann parses without recursion but copies and dumps recursively,
// so depth must be stopped here, before a value exists.
class StrictBuilder : public nlohmann::detail::json_sax_dom_parser<Json> {
  public:
    StrictBuilder(Json& root, bool unique) : json_sax_dom_parser(root, false), unique_(unique) {}

    bool start_object(std::size_t n) {
        if (!enter()) return false;
        if (unique_) names_.emplace_back();
        return json_sax_dom_parser::start_object(n);
    }
    bool end_object() {
        --depth_;
        if (unique_) names_.pop_back();
        return json_sax_dom_parser::end_object();
    }
    bool start_array(std::size_t n) { return enter() && json_sax_dom_parser::start_array(n); }
    bool end_array() {
        --depth_;
        return json_sax_dom_parser::end_array();
    }
    bool key(std::string& name) {
        if (unique_ && !names_.back().insert(name).second) return refuse();
        return json_sax_dom_parser::key(name);
    }
    bool number_float(double value, const std::string& text) {
        if (decimal(Json(value).dump()) == decimal(text)) return json_sax_dom_parser::number_float(value, text);
        Json::binary_t raw(std::vector<std::uint8_t>(text.begin(), text.end()), raw_number);
        return json_sax_dom_parser::binary(raw);
    }
    template <class Exception>
    bool parse_error(std::size_t, const std::string&, const Exception&) { return refuse(); }

    bool refused() const { return refused_ || is_errored(); }

  private:
    bool enter() { return ++depth_ <= max_depth || refuse(); }
    bool refuse() {
        refused_ = true;
        return false;
    }

    bool unique_;
    bool refused_ = false;
    std::size_t depth_ = 0;
    std::vector<std::set<std::string>> names_;
};

Result<Json> strict(std::string_view bytes, bool unique) {
    // nlohmann skips a byte order mark and stops at a NUL byte; neither is JSON.
    if (bytes.starts_with("\xEF\xBB\xBF") || bytes.find('\0') != std::string_view::npos)
        return fail("invalid JSON");
    try {
        Json value;
        StrictBuilder builder(value, unique);
        bool ok = Json::sax_parse(bytes.begin(), bytes.end(), &builder);
        if (!ok || builder.refused()) return fail("invalid JSON");
        return value;
    } catch (...) {
        return fail("invalid JSON");
    }
}

using Serializer = nlohmann::detail::serializer<Json>;

// Writes as the library does (scalars by the library itself), except that a
// number kept as written is written as it was.
class Writer {
  public:
    Writer(std::string& out, int indent)
        : out_(out), indent_(indent), scalars_(nlohmann::detail::output_adapter<char>(out), ' ',
                                              Json::error_handler_t::replace) {}

    void write(const Json& value, int level = 0) {
        if (value.is_object() && !value.empty()) return members(value, level, '{', '}');
        if (value.is_array() && !value.empty()) return members(value, level, '[', ']');
        if (value.is_binary() && value.get_binary().has_subtype() && value.get_binary().subtype() == raw_number)
            return (void)out_.append(value.get_binary().begin(), value.get_binary().end());
        scalars_.dump(value, false, false, 0);
    }

  private:
    void members(const Json& value, int level, char open, char close) {
        out_ += open;
        bool first = true;
        for (auto it = value.begin(); it != value.end(); ++it) {
            if (!first) out_ += ',';
            first = false;
            line_break(level + 1);
            if (value.is_object()) {
                scalars_.dump(Json(it.key()), false, false, 0);
                out_ += indent_ < 0 ? ":" : ": ";
            }
            write(*it, level + 1);
        }
        line_break(level);
        out_ += close;
    }
    void line_break(int level) {
        if (indent_ < 0) return;
        out_ += '\n';
        out_.append(static_cast<std::size_t>(indent_ * level), ' ');
    }

    std::string& out_;
    int indent_;
    Serializer scalars_;
};

std::string dump(const Json& value, int indent) {
    try {
        std::string out;
        Writer(out, indent).write(value);
        return out;
    } catch (...) {
        // Only allocation can fail here; an empty result is refused by every reader.
        return {};
    }
}

}  // namespace

Result<Json> parse(std::string_view bytes) { return strict(bytes, false); }

Result<Json> parse_record(std::string_view bytes) { return strict(bytes, true); }

std::string compact(const Json& value) { return dump(value, -1); }

std::string pretty(const Json& value) { return dump(value, 2); }
