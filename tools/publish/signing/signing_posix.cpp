// OpenSSL implementation of key making and signing, and the owner-only key file; only
// Linux-specific code lives here.

#include "tools/publish/signing/signing.h"

#include <fcntl.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ecdsa.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "launcher/platform/file_descriptor.h"
#include "launcher/text/failure.h"
#include "launcher/text/format.h"
#include "launcher/text/text.h"
#include "launcher/trust/handles_openssl.h"

namespace launcher::publish {

namespace {

using namespace openssl;

[[noreturn]] void NoKey() {
  throw Failure{L"The signing key couldn't be used: OpenSSL refused it"};
}

Pkey Import(const PrivateKey& key) {
  std::vector<unsigned char> point{0x04};
  point.insert(point.end(), key.publicKey.point.begin(), key.publicKey.point.end());
  const Bignum scalar(BN_bin2bn(key.scalar.data(), 32, nullptr));
  const ParamBuilder builder(OSSL_PARAM_BLD_new());
  if (!scalar || !builder ||
      !OSSL_PARAM_BLD_push_utf8_string(builder.get(), OSSL_PKEY_PARAM_GROUP_NAME, "prime256v1",
                                       0) ||
      !OSSL_PARAM_BLD_push_octet_string(builder.get(), OSSL_PKEY_PARAM_PUB_KEY, point.data(),
                                        point.size()) ||
      !OSSL_PARAM_BLD_push_BN(builder.get(), OSSL_PKEY_PARAM_PRIV_KEY, scalar.get())) {
    NoKey();
  }
  const Params params(OSSL_PARAM_BLD_to_param(builder.get()));
  const PkeyContext context(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
  EVP_PKEY* imported = nullptr;
  if (!params || !context || EVP_PKEY_fromdata_init(context.get()) != 1 ||
      EVP_PKEY_fromdata(context.get(), &imported, EVP_PKEY_KEYPAIR, params.get()) != 1) {
    NoKey();
  }
  return Pkey(imported);
}

}  // namespace

PrivateKey GenerateKey() {
  const Pkey made(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
  PrivateKey key;
  BIGNUM* scalar = nullptr;
  unsigned char point[65];
  std::size_t pointSize = 0;
  if (!made || EVP_PKEY_get_bn_param(made.get(), OSSL_PKEY_PARAM_PRIV_KEY, &scalar) != 1) NoKey();
  const Bignum owned(scalar);
  if (BN_bn2binpad(owned.get(), key.scalar.data(), 32) != 32 ||
      EVP_PKEY_get_octet_string_param(made.get(), OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point,
                                      &pointSize) != 1 ||
      pointSize != 65 || point[0] != 0x04) {
    NoKey();
  }
  std::memcpy(key.publicKey.point.data(), point + 1, 64);
  return key;
}

Signature Sign(const PrivateKey& key, std::string_view message) {
  const Pkey pkey = Import(key);
  const MdContext context(EVP_MD_CTX_new());
  std::size_t length = 0;
  if (!context ||
      EVP_DigestSignInit(context.get(), nullptr, EVP_sha256(), nullptr, pkey.get()) != 1 ||
      EVP_DigestSign(context.get(), nullptr, &length,
                     reinterpret_cast<const unsigned char*>(message.data()), message.size()) != 1) {
    NoKey();
  }
  std::vector<unsigned char> der(length);
  if (EVP_DigestSign(context.get(), der.data(), &length,
                     reinterpret_cast<const unsigned char*>(message.data()), message.size()) != 1) {
    NoKey();
  }
  const unsigned char* read = der.data();
  const EcdsaSig sig(d2i_ECDSA_SIG(nullptr, &read, static_cast<long>(length)));
  Signature signature{};
  if (!sig || BN_bn2binpad(ECDSA_SIG_get0_r(sig.get()), signature.data(), 32) != 32 ||
      BN_bn2binpad(ECDSA_SIG_get0_s(sig.get()), signature.data() + 32, 32) != 32) {
    NoKey();
  }
  return signature;
}

void WriteOwnerOnlyFile(const std::filesystem::path& file, std::string_view bytes) {
  // O_EXCL: never a file that exists, or a link someone placed there.
  FileDescriptor out(::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  bool written = static_cast<bool>(out);
  while (written && !bytes.empty()) {
    const ssize_t count = ::write(out.Get(), bytes.data(), bytes.size());
    if (count < 0 && errno == EINTR) continue;
    written = count > 0;
    if (written) bytes.remove_prefix(static_cast<std::size_t>(count));
  }
  if (!written || ::close(out.Release()) != 0) {
    throw Failure{Format(L"{} couldn't be written (it must not exist yet)", WideFromPath(file))};
  }
}

}  // namespace launcher::publish
