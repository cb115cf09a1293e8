// BCrypt implementation of the SHA-256 hasher; only Windows-specific code lives here.

#include "launcher/transfer/sha256.h"

#include <climits>
#include <mutex>

#include "launcher/platform/handles_win32.h"
#include "launcher/text/failure.h"

namespace launcher {

namespace {

[[noreturn]] void Unavailable() {
  throw Failure{L"The download couldn't be checked: SHA-256 isn't available on this computer"};
}

// Opening the provider is the costly step, so the process opens it once, even when several
// threads ask together, and keeps it; hash objects of any thread share it.
BCRYPT_ALG_HANDLE Provider() {
  static AlgorithmHandle provider;
  static std::once_flag once;
  std::call_once(once, [] {
    BCRYPT_ALG_HANDLE opened = nullptr;
    if (BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&opened, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
      provider = AlgorithmHandle(opened);
    }
  });
  if (!provider) Unavailable();
  return provider.Get();
}

}  // namespace

struct Sha256::State {
  HashHandle hash;
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
  BCRYPT_HASH_HANDLE hash = nullptr;
  // The hash object's memory is left to the provider; no secret.
  if (!BCRYPT_SUCCESS(BCryptCreateHash(Provider(), &hash, nullptr, 0, nullptr, 0, 0))) {
    Unavailable();
  }
  state_->hash = HashHandle(hash);
}

Sha256::~Sha256() = default;
Sha256::Sha256(Sha256&&) noexcept = default;
Sha256& Sha256::operator=(Sha256&&) noexcept = default;

void Sha256::Add(const void* bytes, std::size_t count) {
  auto* next = static_cast<PUCHAR>(const_cast<void*>(bytes));
  while (count > 0) {
    const ULONG slice = count > ULONG_MAX ? ULONG_MAX : static_cast<ULONG>(count);
    if (!BCRYPT_SUCCESS(BCryptHashData(state_->hash.Get(), next, slice, 0))) Unavailable();
    next += slice;
    count -= slice;
  }
}

std::array<std::uint8_t, 32> Sha256::Finish() {
  std::array<std::uint8_t, 32> digest{};
  if (!BCRYPT_SUCCESS(BCryptFinishHash(state_->hash.Get(), digest.data(),
                                       static_cast<ULONG>(digest.size()), 0))) {
    Unavailable();
  }
  return digest;
}

}  // namespace launcher
