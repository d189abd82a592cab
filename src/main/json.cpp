#include "main/json.hpp"

#include <set>
#include <vector>

namespace {

constexpr std::size_t max_depth = 127;

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

std::string dump(const Json& value, int indent) {
    try {
        return value.dump(indent, ' ', false, Json::error_handler_t::replace);
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
