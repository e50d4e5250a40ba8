#pragma once
// SHA-256 through the system's own cryptographic provider: advapi32's
// CryptoAPI with the RSA and AES provider, which has offered CALG_SHA_256
// since Windows XP SP3. No hashing code of our own.

#include <cstddef>
#include <string>

namespace Sha256 {

// The digest of `size` bytes as 64 lower-case hexadecimal digits; empty when
// the provider cannot make it.
std::string Hex(const void* data, std::size_t size);

} // namespace Sha256
