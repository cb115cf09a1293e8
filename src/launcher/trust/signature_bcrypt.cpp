// BCrypt implementation of VerifySignature; only Windows-specific code lives here.

#include "launcher/trust/signature.h"

#include <cstring>
#include <vector>

#include "launcher/platform/handles_win32.h"
#include "launcher/transfer/sha256.h"

namespace launcher {

bool VerifySignature(const PublicKey& key, std::string_view message, const Signature& signature) {
  BCRYPT_ALG_HANDLE opened = nullptr;
  if (!BCRYPT_SUCCESS(
          BCryptOpenAlgorithmProvider(&opened, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0))) {
    return false;
  }
  const AlgorithmHandle algorithm(opened);
  // BCRYPT_ECCPUBLIC_BLOB: the key blob header, then X and Y.
  std::vector<UCHAR> blob(sizeof(BCRYPT_ECCKEY_BLOB) + key.point.size());
  const BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, 32};
  std::memcpy(blob.data(), &header, sizeof header);
  std::memcpy(blob.data() + sizeof header, key.point.data(), key.point.size());
  BCRYPT_KEY_HANDLE imported = nullptr;
  if (!BCRYPT_SUCCESS(BCryptImportKeyPair(algorithm.Get(), nullptr, BCRYPT_ECCPUBLIC_BLOB,
                                          &imported, blob.data(), static_cast<ULONG>(blob.size()),
                                          0))) {
    return false;
  }
  const KeyHandle publicKey(imported);
  Sha256 hasher;
  hasher.Add(message.data(), message.size());
  std::array<std::uint8_t, 32> digest = hasher.Finish();
  Signature copy = signature;  // the API takes writable buffers
  // No padding information: ECDSA has none.
  return BCRYPT_SUCCESS(BCryptVerifySignature(publicKey.Get(), nullptr, digest.data(),
                                              static_cast<ULONG>(digest.size()), copy.data(),
                                              static_cast<ULONG>(copy.size()), 0));
}

}  // namespace launcher
