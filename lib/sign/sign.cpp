// Signatures of files: checked through the core's checker in every build; keys and signatures
// made with libsodium where the build has it. The files written are minisign's: a public key
// file, a secret key file (its key derivation scrypt, its check BLAKE2b-256), a signature file.
#include <cstddef>
#include <cstring>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "core/core.h"
#include "platform/platform.h"
#include "tarn/tarn.h"

#if defined(TARN_HAVE_SODIUM)
#include <sodium.h>
#endif

namespace {

namespace platform = tarn::platform;

constexpr std::size_t kChunk = std::size_t{1} << 20;

// Feeds the whole file at `input` to `take`, as the file calls read: held against writers, and
// refused when it changed meanwhile.
tarn_status ReadFile(const char* input, const std::function<void(const void*, std::size_t)>& take) {
  platform::InputFile file;
  if (!file.Open(input)) return TARN_CANT_OPEN_INPUT;
  std::vector<unsigned char> buffer(kChunk);
  for (std::uint64_t at = 0; at < file.size();) {
    const std::int64_t got = platform::ReadAt(file.handle(), buffer.data(), buffer.size(), at);
    if (got <= 0) {
      if (got == 0) platform::SetCause({0, "changed while it was read"});
      return TARN_READ_FAILED;
    }
    take(buffer.data(), static_cast<std::size_t>(got));
    at += static_cast<std::uint64_t>(got);
  }
  if (!file.Unchanged()) {
    platform::SetCause({0, "changed while it was read"});
    return TARN_READ_FAILED;
  }
  return TARN_OK;
}

}  // namespace

tarn_status tarn_verify_signature_file(const char* input, const tarn_public_key* key,
                                       const char* signature, size_t length,
                                       const tarn_signature_policy* policy,
                                       tarn_signature_info* info) {
  platform::ClearCause();
  if (input == nullptr || key == nullptr || signature == nullptr) return TARN_INVALID_ARGUMENT;
  tarn_verifier v;
  tarn_status status = tarn_verifier_init(&v, key, signature, length, policy, info);
  if (status != TARN_OK) return status;
  status = ReadFile(
      input, [&](const void* data, std::size_t n) { (void)tarn_verifier_update(&v, data, n); });
  if (status != TARN_OK) return status;
  return tarn_verifier_finish(&v, info);
}

#if defined(TARN_HAVE_SODIUM)

namespace {

// A secret key file's bytes: the algorithms, the key derivation's salt and limits, then (under
// the derived stream when there is a password) the key id, the secret key and their check.
struct SecretKeyFile {
  unsigned char sig_alg[2], kdf_alg[2], chk_alg[2];
  unsigned char salt[crypto_pwhash_scryptsalsa208sha256_SALTBYTES];
  unsigned char ops_le[8], mem_le[8];
  unsigned char key_id[8];
  unsigned char secret[crypto_sign_SECRETKEYBYTES];
  unsigned char check[crypto_generichash_BYTES];
};
static_assert(sizeof(SecretKeyFile) == 158);
constexpr std::size_t kSealed = 8 + crypto_sign_SECRETKEYBYTES + crypto_generichash_BYTES;

// The trusted comment of a signature of `input`, or false for options that are not sound.
bool TrustedComment(const char* input, const tarn_sign_options* options, std::string* comment) {
  const tarn_sign_options none{};
  const tarn_sign_options& o = options != nullptr ? *options : none;
  if (o.device != nullptr && !tarnc_is_device_name(o.device, std::strlen(o.device))) {
    return false;
  }
  if (o.comment != nullptr) {
    const std::string text = o.comment;
    if (text.size() > 512 || text.find_first_of("\r\n") != std::string::npos ||
        text.find("version=") != std::string::npos || text.find("device=") != std::string::npos) {
      return false;
    }
  }
  // The name as one token: no byte of it can add a field.
  std::string name = input;
  name = name.substr(name.find_last_of("/\\") + 1);
  for (char& c : name) {
    if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7F) c = '?';
  }
  *comment =
      "timestamp:" + std::to_string(static_cast<long long>(std::time(nullptr))) + "\tfile:" + name;
  if (o.has_version) *comment += "\tversion=" + std::to_string(o.version);
  if (o.device != nullptr) *comment += std::string("\tdevice=") + o.device;
  if (o.comment != nullptr && o.comment[0] != '\0') *comment += std::string("\t") + o.comment;
  return true;
}

void Check(SecretKeyFile* k, unsigned char out[crypto_generichash_BYTES]) {
  crypto_generichash_state h;
  crypto_generichash_init(&h, nullptr, 0, crypto_generichash_BYTES);
  crypto_generichash_update(&h, k->sig_alg, 2);
  crypto_generichash_update(&h, k->key_id, 8);
  crypto_generichash_update(&h, k->secret, sizeof k->secret);
  crypto_generichash_final(&h, out, crypto_generichash_BYTES);
}

// The sealed part XORed with the stream scrypt derives from the password.
bool Seal(SecretKeyFile* k, const char* password, std::size_t length) {
  unsigned char stream[kSealed];
  if (crypto_pwhash_scryptsalsa208sha256(stream, sizeof stream, password, length, k->salt,
                                         tarnc_le64(k->ops_le), tarnc_le64(k->mem_le)) != 0) {
    return false;
  }
  unsigned char* sealed = reinterpret_cast<unsigned char*>(k) + offsetof(SecretKeyFile, key_id);
  for (std::size_t i = 0; i < kSealed; ++i) sealed[i] ^= stream[i];
  sodium_memzero(stream, sizeof stream);
  return true;
}

std::string Base64(const void* data, std::size_t n) {
  std::string text(sodium_base64_ENCODED_LEN(n, sodium_base64_VARIANT_ORIGINAL), '\0');
  sodium_bin2base64(text.data(), text.size(), static_cast<const unsigned char*>(data), n,
                    sodium_base64_VARIANT_ORIGINAL);
  text.resize(std::strlen(text.c_str()));
  return text;
}

bool Ready() {
  return sodium_init() >= 0;
}

// The secret key of a secret key file's text, opened with the password; false with the cause.
bool OpenSecretKey(const char* text, std::size_t length, const char* password,
                   std::size_t password_length, SecretKeyFile* k) {
  const char* at = text;
  const char* end = text + length;
  const char* line_end = static_cast<const char*>(std::memchr(at, '\n', length));
  if (line_end != nullptr && std::strncmp(at, "untrusted comment: ", 19) == 0) at = line_end + 1;
  std::size_t n = 0;
  while (at + n < end && at[n] != '\r' && at[n] != '\n') ++n;
  std::size_t got = 0;
  if (sodium_base642bin(reinterpret_cast<unsigned char*>(k), sizeof *k, at, n, nullptr, &got,
                        nullptr, sodium_base64_VARIANT_ORIGINAL) != 0 ||
      got != sizeof *k || std::memcmp(k->sig_alg, "Ed", 2) != 0 ||
      std::memcmp(k->chk_alg, "B2", 2) != 0) {
    platform::SetCause({0, "not a secret key file"});
    return false;
  }
  if (std::memcmp(k->kdf_alg, "Sc", 2) == 0) {
    if (password == nullptr) {
      platform::SetCause({0, "the secret key needs its password"});
      return false;
    }
    if (tarnc_le64(k->ops_le) > TARN_KDF_OPS_MAX || tarnc_le64(k->mem_le) > TARN_KDF_MEMORY_MAX) {
      platform::SetCause({0, "the secret key asks too costly a key derivation"});
      return false;
    }
    if (!Seal(k, password, password_length)) {
      platform::SetCause({0, "no memory for the key derivation"});
      return false;
    }
  } else if (k->kdf_alg[0] != 0 || k->kdf_alg[1] != 0) {
    platform::SetCause({0, "an unknown key derivation"});
    return false;
  }
  unsigned char check[crypto_generichash_BYTES];
  Check(k, check);
  if (sodium_memcmp(check, k->check, sizeof check) != 0) {
    platform::SetCause({0, password != nullptr ? "wrong password for the secret key"
                                               : "the secret key is damaged"});
    return false;
  }
  return true;
}

}  // namespace

int tarn_can_sign(void) {
  return Ready() ? 1 : 0;
}

tarn_status tarn_sign_keygen(const char* password, size_t password_length,
                             char public_text[TARN_PUBLIC_KEY_TEXT_MAX],
                             char secret_text[TARN_SECRET_KEY_TEXT_MAX]) {
  platform::ClearCause();
  if (public_text == nullptr || secret_text == nullptr) return TARN_INVALID_ARGUMENT;
  if (!Ready()) return TARN_INTERNAL_ERROR;
  SecretKeyFile k{};
  unsigned char pk[crypto_sign_PUBLICKEYBYTES];
  std::memcpy(k.sig_alg, "Ed", 2);
  std::memcpy(k.chk_alg, "B2", 2);
  randombytes_buf(k.key_id, sizeof k.key_id);
  crypto_sign_keypair(pk, k.secret);
  Check(&k, k.check);
  char id[17];
  tarn_key_id_text(k.key_id, id);
  unsigned char pub[42];
  pub[0] = 'E';
  pub[1] = 'd';
  std::memcpy(pub + 2, k.key_id, 8);
  std::memcpy(pub + 10, pk, 32);
  const std::string pub_text =
      std::string("untrusted comment: minisign public key ") + id + "\n" + Base64(pub, 42) + "\n";
  if (password != nullptr) {
    std::memcpy(k.kdf_alg, "Sc", 2);
    randombytes_buf(k.salt, sizeof k.salt);
    tarnc_put_le64(k.ops_le, TARN_KDF_OPS_MAX);
    tarnc_put_le64(k.mem_le, TARN_KDF_MEMORY_MAX);
    if (!Seal(&k, password, password_length)) {
      sodium_memzero(&k, sizeof k);
      return TARN_NO_MEMORY;
    }
  }
  std::string sec_text =
      std::string("untrusted comment: minisign ") +
      (password != nullptr ? "encrypted secret key" : "secret key, not encrypted") + "\n" +
      Base64(&k, sizeof k) + "\n";
  sodium_memzero(&k, sizeof k);
  std::memcpy(public_text, pub_text.c_str(), pub_text.size() + 1);
  std::memcpy(secret_text, sec_text.c_str(), sec_text.size() + 1);
  sodium_memzero(sec_text.data(), sec_text.size());
  return TARN_OK;
}

tarn_status tarn_sign_file(const char* input, const char* secret_text, size_t secret_length,
                           const char* password, size_t password_length,
                           const tarn_sign_options* options,
                           char signature_text[TARN_SIGNATURE_TEXT_MAX]) {
  platform::ClearCause();
  std::string trusted_comment;
  if (input == nullptr || secret_text == nullptr || signature_text == nullptr ||
      !TrustedComment(input, options, &trusted_comment)) {
    return TARN_INVALID_ARGUMENT;
  }
  if (!Ready()) return TARN_INTERNAL_ERROR;
  SecretKeyFile k{};
  if (!OpenSecretKey(secret_text, secret_length, password, password_length, &k)) {
    sodium_memzero(&k, sizeof k);
    return TARN_BAD_KEY;
  }
  crypto_generichash_state h;
  crypto_generichash_init(&h, nullptr, 0, crypto_generichash_BYTES_MAX);
  const tarn_status read = ReadFile(input, [&](const void* data, std::size_t n) {
    crypto_generichash_update(&h, static_cast<const unsigned char*>(data), n);
  });
  if (read != TARN_OK) {
    sodium_memzero(&k, sizeof k);
    return read;
  }
  unsigned char digest[crypto_generichash_BYTES_MAX];
  crypto_generichash_final(&h, digest, sizeof digest);
  unsigned char sig[74];
  sig[0] = 'E';
  sig[1] = 'D';
  std::memcpy(sig + 2, k.key_id, 8);
  crypto_sign_detached(sig + 10, nullptr, digest, sizeof digest, k.secret);
  // The comment's signature covers the file's signature and the comment.
  std::string covered(reinterpret_cast<const char*>(sig + 10), 64);
  covered += trusted_comment;
  unsigned char global[crypto_sign_BYTES];
  crypto_sign_detached(global, nullptr, reinterpret_cast<const unsigned char*>(covered.data()),
                       covered.size(), k.secret);
  sodium_memzero(&k, sizeof k);
  const std::string text = std::string("untrusted comment: signature from tarntool secret key\n") +
                           Base64(sig, sizeof sig) + "\ntrusted comment: " + trusted_comment +
                           "\n" + Base64(global, sizeof global) + "\n";
  std::memcpy(signature_text, text.c_str(), text.size() + 1);
  return TARN_OK;
}

#else

int tarn_can_sign(void) {
  return 0;
}

tarn_status tarn_sign_keygen(const char*, size_t, char*, char*) {
  platform::ClearCause();
  platform::SetCause({0, "this build makes no signatures (built without libsodium)"});
  return TARN_INTERNAL_ERROR;
}

tarn_status tarn_sign_file(const char*, const char*, size_t, const char*, size_t,
                           const tarn_sign_options*, char*) {
  platform::ClearCause();
  platform::SetCause({0, "this build makes no signatures (built without libsodium)"});
  return TARN_INTERNAL_ERROR;
}

#endif
