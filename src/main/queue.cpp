#include "main/queue.hpp"

// The one-shot and EVP digests of OpenSSL 3 first load the provider machinery
// and read openssl.cnf, millions of instructions in a process that hashes one
// small file; the low-level interface hashes directly.
#define OPENSSL_API_COMPAT 10101
#include <openssl/sha.h>

#include "main/app.hpp"
#include "main/private_files.hpp"

namespace {

std::string sha256_hex(std::string_view bytes) {
    unsigned char hash[SHA256_DIGEST_LENGTH];
    SHA256_CTX context;
    SHA256_Init(&context);
    SHA256_Update(&context, bytes.data(), bytes.size());
    SHA256_Final(hash, &context);
    static constexpr char hex[] = "0123456789abcdef";
    std::string out;
    for (unsigned char b : hash) {
        out += hex[b >> 4];
        out += hex[b & 15];
    }
    return out;
}

}  // namespace

std::string digest(const Json& value) { return sha256_hex(compact(value)); }

Result<Json> App::prepare(const Json& candidate) const {
    TRY_LET(recipe, this->recipe(candidate));
    // The file holds exactly the hashed bytes, so its SHA-256 is its name.
    std::string bytes = compact(recipe);
    std::string name = sha256_hex(bytes);
    fs::path path = queue / (name + ".json");
    // An existing entry means already queued: it is neither read nor rewritten.
    if (!present(path)) TRY(durable_write(path, bytes));
    return Json{{"digest", name},
                {"mode", config.mode},
                {"privacy", "client-reviewed; checks do not prove anonymity"},
                {"recipe", std::move(recipe)},
                {"status", "prepared"}};
}
