// The WHATWG parser's behaviour that the origin and source checks rely on.
#include <gtest/gtest.h>

#include <vector>

#include "main/url.hpp"

namespace {

TEST(Url, PartsThatTheChecksRead) {
    auto u = parse_url("HTTPS://User:pw@Docs.Python.ORG:443/3/library/?#frag");
    ASSERT_TRUE(u);
    EXPECT_EQ(u->scheme, "https");
    EXPECT_EQ(u->username, "User");
    EXPECT_TRUE(u->has_password);
    EXPECT_EQ(u->host, "docs.python.org");
    EXPECT_FALSE(u->has_port) << "the default port is dropped";
    EXPECT_TRUE(u->has_query) << "a bare ? counts";
    EXPECT_TRUE(u->has_fragment);
    EXPECT_EQ(u->path, "/3/library/");
}

TEST(Url, HostsPortsAndPaths) {
    EXPECT_TRUE(parse_url("https://go.dev:8443/")->has_port);
    EXPECT_EQ(parse_url("https://go.dev")->path, "/");
    EXPECT_EQ(parse_url("http://[0:0::1]:80")->host, "[::1]");
    EXPECT_EQ(parse_url("https://b\u00fccher.example/")->host, "xn--bcher-kva.example");
    EXPECT_FALSE(parse_url("https://:pw@go.dev/")->username.size());
    EXPECT_TRUE(parse_url("https://:pw@go.dev/")->has_password);
    EXPECT_FALSE(parse_url("https://go.dev/")->has_query);
}

TEST(Url, RefusesWhatIsNotAnAbsoluteUrl) {
    for (std::string bad : std::vector<std::string>{"", "go.dev", "/path", "https://", "https://exa mple.com/", "http://[::1/",
                            std::string("https://go.dev/\xff")})
        EXPECT_FALSE(parse_url(bad)) << bad;
}

}  // namespace
