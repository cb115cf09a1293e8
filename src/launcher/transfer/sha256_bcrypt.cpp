// BCrypt implementation of the SHA-256 hasher; only Windows-specific code lives here.

#include <climits>

#include "launcher/platform/scoped_handle.h"
#include "launcher/platform/windows.h"  // before <bcrypt.h>, which needs its types
#include "launcher/text/failure.h"
#include "launcher/transfer/sha256.h"

#include <bcrypt.h>

namespace launcher {

namespace {

[[noreturn]] void Unavailable() {
  throw Failure{L"The download couldn't be checked: SHA-256 isn't available on this computer"};
}

struct ProviderTraits {
  using Handle = BCRYPT_ALG_HANDLE;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle handle) { BCryptCloseAlgorithmProvider(handle, 0); }
};

struct HashTraits {
  using Handle = BCRYPT_HASH_HANDLE;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle handle) { BCryptDestroyHash(handle); }
};

}  // namespace

// The hash object is declared after the provider so that it is destroyed first.
struct Sha256::State {
  ScopedHandle<ProviderTraits> provider;
  ScopedHandle<HashTraits> hash;
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
  BCRYPT_ALG_HANDLE provider = nullptr;
  if (!BCRYPT_SUCCESS(
          BCryptOpenAlgorithmProvider(&provider, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
    Unavailable();
  }
  state_->provider = ScopedHandle<ProviderTraits>(provider);
  BCRYPT_HASH_HANDLE hash = nullptr;
  // The hash object's memory is left to the provider; no secret.
  if (!BCRYPT_SUCCESS(BCryptCreateHash(provider, &hash, nullptr, 0, nullptr, 0, 0))) Unavailable();
  state_->hash = ScopedHandle<HashTraits>(hash);
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
