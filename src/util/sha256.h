// SHA-256 over data given in pieces, as lower-case hex.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

class CSha256 {
public:
    CSha256();
    ~CSha256();
    CSha256(const CSha256&) = delete;
    CSha256& operator=(const CSha256&) = delete;

    // False once the library failed; the digest is then not to be used.
    bool Update(const void* data, size_t size);
    // The digest of everything given, or "" when the library failed.
    std::string Final();

private:
    struct Context;
    std::unique_ptr<Context> m_context;
    bool m_failed = false;
};
