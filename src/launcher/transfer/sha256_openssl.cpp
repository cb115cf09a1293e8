// OpenSSL implementation of the SHA-256 hasher; only Linux-specific code lives here.

#include "launcher/transfer/sha256.h"

#include <openssl/evp.h>

#include "launcher/text/failure.h"

namespace launcher {

namespace {

[[noreturn]] void Unavailable() {
  throw Failure{L"The download couldn't be checked: SHA-256 isn't available on this computer"};
}

struct ContextDeleter {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

}  // namespace

struct Sha256::State {
  std::unique_ptr<EVP_MD_CTX, ContextDeleter> context;
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
  state_->context.reset(EVP_MD_CTX_new());
  if (!state_->context || EVP_DigestInit_ex(state_->context.get(), EVP_sha256(), nullptr) != 1) {
    Unavailable();
  }
}

Sha256::~Sha256() = default;
Sha256::Sha256(Sha256&&) noexcept = default;
Sha256& Sha256::operator=(Sha256&&) noexcept = default;

void Sha256::Add(const void* bytes, std::size_t count) {
  if (EVP_DigestUpdate(state_->context.get(), bytes, count) != 1) Unavailable();
}

std::array<std::uint8_t, 32> Sha256::Finish() {
  std::array<std::uint8_t, 32> digest{};
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(state_->context.get(), digest.data(), &length) != 1 ||
      length != digest.size()) {
    Unavailable();
  }
  return digest;
}

}  // namespace launcher
