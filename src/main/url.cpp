#include "main/url.hpp"

#include <cstddef>
#include <vector>

extern "C" {
struct TarnUrlParts {
    std::size_t scheme_len, username_len, host_len, path_len;
    unsigned char has_password, has_host, has_port, has_query, has_fragment;
    std::size_t required;
};
int tarn_url_parse(const char* input, std::size_t len, char* buf, std::size_t cap, TarnUrlParts* out);
}

std::optional<UrlParts> parse_url(std::string_view text) {
    TarnUrlParts parts{};
    std::vector<char> buffer(text.size() * 3 + 64);
    int rc = tarn_url_parse(text.data(), text.size(), buffer.data(), buffer.size(), &parts);
    if (rc == 2) {
        buffer.resize(parts.required);
        rc = tarn_url_parse(text.data(), text.size(), buffer.data(), buffer.size(), &parts);
    }
    if (rc != 0) return std::nullopt;
    std::string_view all(buffer.data(), parts.required);
    auto take = [&](std::size_t n) {
        std::string piece(all.substr(0, n));
        all.remove_prefix(n);
        return piece;
    };
    UrlParts url;
    url.scheme = take(parts.scheme_len);
    url.username = take(parts.username_len);
    url.host = take(parts.host_len);
    url.path = take(parts.path_len);
    url.has_password = parts.has_password;
    url.has_host = parts.has_host;
    url.has_port = parts.has_port;
    url.has_query = parts.has_query;
    url.has_fragment = parts.has_fragment;
    return url;
}
