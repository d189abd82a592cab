#pragma once
#include <optional>
#include <string>
#include <string_view>

// The parts of a WHATWG-parsed absolute URL that the origin and source checks read.
struct UrlParts {
    std::string scheme;
    std::string username;
    std::string host;  // serialized: lower case, IDNA in ASCII, IPv6 in brackets
    std::string path;
    bool has_password = false;
    bool has_host = false;
    bool has_port = false;  // an explicit port other than the scheme's default
    bool has_query = false;
    bool has_fragment = false;
};

// nullopt when the text is not an absolute URL.
std::optional<UrlParts> parse_url(std::string_view text);
