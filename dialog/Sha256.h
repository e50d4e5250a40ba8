#pragma once
// SHA-256 through the system's own cryptographic provider: advapi32's
// CryptoAPI with the RSA and AES provider, which has offered CALG_SHA_256
// since Windows XP SP3. No hashing code of our own.

#include <cstddef>
#include <string>

namespace Sha256 {

// Makes the provider ready now, and keeps it, so that the first digest does
// not wait for it to load. False when it cannot be had (Hex tries again).
bool Prepare();

// The digest of `size` bytes as 64 lower-case hexadecimal digits; empty when
// the provider cannot make it.
std::string Hex(const void* data, std::size_t size);

} // namespace Sha256
