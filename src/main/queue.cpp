#include "main/queue.hpp"

#include <openssl/sha.h>

#include "main/app.hpp"

std::string digest(const Json& value) {
    std::string bytes = compact(value);
    unsigned char hash[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), hash);
    static constexpr char hex[] = "0123456789abcdef";
    std::string out;
    for (unsigned char b : hash) {
        out += hex[b >> 4];
        out += hex[b & 15];
    }
    return out;
}

Result<Json> App::prepare(const Json&) const { return fail("command not available in this build"); }
