// OpenSSL implementation of VerifySignature; only Linux-specific code lives here.

#include "launcher/trust/signature.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ecdsa.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>

#include <memory>
#include <vector>

#include "launcher/trust/handles_openssl.h"

namespace launcher {

namespace {

using namespace openssl;

Pkey ImportKey(const PublicKey& key) {
  // The uncompressed point encoding: 0x04, X, Y.
  std::vector<unsigned char> point{0x04};
  point.insert(point.end(), key.point.begin(), key.point.end());
  const ParamBuilder builder(OSSL_PARAM_BLD_new());
  if (!builder ||
      !OSSL_PARAM_BLD_push_utf8_string(builder.get(), OSSL_PKEY_PARAM_GROUP_NAME, "prime256v1",
                                       0) ||
      !OSSL_PARAM_BLD_push_octet_string(builder.get(), OSSL_PKEY_PARAM_PUB_KEY, point.data(),
                                        point.size())) {
    return nullptr;
  }
  const Params params(OSSL_PARAM_BLD_to_param(builder.get()));
  const PkeyContext context(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
  EVP_PKEY* imported = nullptr;
  if (!params || !context || EVP_PKEY_fromdata_init(context.get()) != 1 ||
      EVP_PKEY_fromdata(context.get(), &imported, EVP_PKEY_PUBLIC_KEY, params.get()) != 1) {
    return nullptr;
  }
  Pkey pkey(imported);
  // fromdata doesn't check that the point lies on the curve; a key check does.
  const PkeyContext check(EVP_PKEY_CTX_new(pkey.get(), nullptr));
  if (!check || EVP_PKEY_public_check(check.get()) != 1) return nullptr;
  return pkey;
}

// OpenSSL verifies the DER form of (r, s).
std::vector<unsigned char> DerSignature(const Signature& signature) {
  EcdsaSig sig(ECDSA_SIG_new());
  BIGNUM* r = BN_bin2bn(signature.data(), 32, nullptr);
  BIGNUM* s = BN_bin2bn(signature.data() + 32, 32, nullptr);
  if (!sig || r == nullptr || s == nullptr || ECDSA_SIG_set0(sig.get(), r, s) != 1) {
    BN_free(r);
    BN_free(s);
    return {};
  }
  const int length = i2d_ECDSA_SIG(sig.get(), nullptr);
  if (length <= 0) return {};
  std::vector<unsigned char> der(static_cast<std::size_t>(length));
  unsigned char* out = der.data();
  i2d_ECDSA_SIG(sig.get(), &out);
  return der;
}

}  // namespace

bool VerifySignature(const PublicKey& key, std::string_view message, const Signature& signature) {
  const Pkey pkey = ImportKey(key);
  const std::vector<unsigned char> der = DerSignature(signature);
  const MdContext context(EVP_MD_CTX_new());
  if (!pkey || der.empty() || !context ||
      EVP_DigestVerifyInit(context.get(), nullptr, EVP_sha256(), nullptr, pkey.get()) != 1) {
    return false;
  }
  return EVP_DigestVerify(context.get(), der.data(), der.size(),
                          reinterpret_cast<const unsigned char*>(message.data()),
                          message.size()) == 1;
}

}  // namespace launcher
