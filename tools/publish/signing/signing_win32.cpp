// BCrypt implementation of key making and signing, and the owner-only key file; only
// Windows-specific code lives here.

#include "tools/publish/signing/signing.h"

#include <cstring>
#include <vector>

#include "launcher/platform/handles_win32.h"
#include "launcher/text/failure.h"
#include "launcher/text/format.h"
#include "launcher/text/text.h"
#include "launcher/transfer/sha256.h"

#include <sddl.h>  // after <windows.h>, whose types it needs

namespace launcher::publish {

namespace {

[[noreturn]] void NoKey() {
  throw Failure{L"The signing key couldn't be used: BCrypt refused it"};
}

AlgorithmHandle OpenEcdsa() {
  BCRYPT_ALG_HANDLE opened = nullptr;
  if (!BCRYPT_SUCCESS(
          BCryptOpenAlgorithmProvider(&opened, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0))) {
    NoKey();
  }
  return AlgorithmHandle(opened);
}

}  // namespace

PrivateKey GenerateKey() {
  const AlgorithmHandle algorithm = OpenEcdsa();
  BCRYPT_KEY_HANDLE made = nullptr;
  if (!BCRYPT_SUCCESS(BCryptGenerateKeyPair(algorithm.Get(), &made, 256, 0))) NoKey();
  const KeyHandle pair(made);
  // BCRYPT_ECCPRIVATE_BLOB: the header, then X, Y and d.
  std::vector<UCHAR> blob(sizeof(BCRYPT_ECCKEY_BLOB) + 96);
  ULONG written = 0;
  if (!BCRYPT_SUCCESS(BCryptFinalizeKeyPair(pair.Get(), 0)) ||
      !BCRYPT_SUCCESS(BCryptExportKey(pair.Get(), nullptr, BCRYPT_ECCPRIVATE_BLOB, blob.data(),
                                      static_cast<ULONG>(blob.size()), &written, 0)) ||
      written != blob.size()) {
    NoKey();
  }
  PrivateKey key;
  std::memcpy(key.publicKey.point.data(), blob.data() + sizeof(BCRYPT_ECCKEY_BLOB), 64);
  std::memcpy(key.scalar.data(), blob.data() + sizeof(BCRYPT_ECCKEY_BLOB) + 64, 32);
  return key;
}

Signature Sign(const PrivateKey& key, std::string_view message) {
  const AlgorithmHandle algorithm = OpenEcdsa();
  std::vector<UCHAR> blob(sizeof(BCRYPT_ECCKEY_BLOB) + 96);
  const BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PRIVATE_P256_MAGIC, 32};
  std::memcpy(blob.data(), &header, sizeof header);
  std::memcpy(blob.data() + sizeof header, key.publicKey.point.data(), 64);
  std::memcpy(blob.data() + sizeof header + 64, key.scalar.data(), 32);
  BCRYPT_KEY_HANDLE imported = nullptr;
  if (!BCRYPT_SUCCESS(BCryptImportKeyPair(algorithm.Get(), nullptr, BCRYPT_ECCPRIVATE_BLOB,
                                          &imported, blob.data(), static_cast<ULONG>(blob.size()),
                                          0))) {
    NoKey();
  }
  const KeyHandle pair(imported);
  Sha256 hasher;
  hasher.Add(message.data(), message.size());
  std::array<std::uint8_t, 32> digest = hasher.Finish();
  Signature signature{};
  ULONG written = 0;
  if (!BCRYPT_SUCCESS(BCryptSignHash(pair.Get(), nullptr, digest.data(),
                                     static_cast<ULONG>(digest.size()), signature.data(),
                                     static_cast<ULONG>(signature.size()), &written, 0)) ||
      written != signature.size()) {
    NoKey();
  }
  return signature;
}

void WriteOwnerOnlyFile(const std::filesystem::path& file, std::string_view bytes) {
  // Protected from the folder's inherited permissions; full access for the owner alone.
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;FA;;;OW)", SDDL_REVISION_1,
                                                       &descriptor, nullptr);
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
  // CREATE_NEW: never a file that exists.
  FileHandle out(CreateFileW(file.c_str(), GENERIC_WRITE, 0,
                             descriptor != nullptr ? &attributes : nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
  LocalFree(descriptor);
  DWORD written = 0;
  if (!out ||
      !WriteFile(out.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
      written != bytes.size() || !CloseHandle(out.Release())) {
    throw Failure{Format(L"{} couldn't be written (it must not exist yet)", WideFromPath(file))};
  }
}

}  // namespace launcher::publish
