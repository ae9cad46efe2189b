#include "util/sha256.h"

#include <openssl/evp.h>

// The library's SHA-256 uses the processor's hashing instructions: hashes
// must cost little beside the conversion itself.
struct CSha256::Context {
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    ~Context() { EVP_MD_CTX_free(ctx); }
};

CSha256::CSha256() : m_context(std::make_unique<Context>())
{
    m_failed = !m_context->ctx || EVP_DigestInit_ex(m_context->ctx, EVP_sha256(), nullptr) != 1;
}

CSha256::~CSha256() = default;

bool CSha256::Update(const void* data, size_t size)
{
    m_failed = m_failed || (size > 0 && EVP_DigestUpdate(m_context->ctx, data, size) != 1);
    return !m_failed;
}

std::string CSha256::Final()
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (m_failed || EVP_DigestFinal_ex(m_context->ctx, digest, &length) != 1) {
        m_failed = true;
        return {};
    }
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    for (unsigned int i = 0; i < length; ++i) {
        out += kHex[digest[i] >> 4];
        out += kHex[digest[i] & 15];
    }
    m_failed = true;  // a context is finished once
    return out;
}
