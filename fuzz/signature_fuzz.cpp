// Fuzz target: the signature checker against libsodium. The first byte picks what the rest is:
//   0: a signature (64 bytes), a public key (32) and a message: the core's Ed25519 must accept
//      exactly what crypto_sign_verify_detached accepts;
//   1: a signature file's text, checked under a fixed public key over the text itself, and the
//      same bytes as a saved checker to resume: whatever the bytes, a verdict or a refusal,
//      never a fault, and a checker resumed from a blob it saved gives the verdict of one never
//      cut.
// The seeds (fuzz/corpus/signature) hold a valid signature of each kind, so that mutations
// start where the checks part.
#include <sodium.h>

#include <cstdint>
#include <cstring>

#include "core/core.h"
#include "fuzz/fuzz_check.h"
#include "tarn/tarn.h"

namespace {

// The public key of the seeds' signature files.
constexpr std::uint8_t kSeed[32] = {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15, 16,
                                    17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32};

tarn_public_key FixedKey() {
  std::uint8_t pk[32], sk[64];
  crypto_sign_seed_keypair(pk, sk, kSeed);
  tarn_public_key key;
  std::memcpy(key.id, "fuzz-key", 8);
  std::memcpy(key.key, pk, 32);
  return key;
}

void Differential(const std::uint8_t* data, std::size_t size) {
  if (size < 96) return;
  const std::uint8_t* sig = data;
  const std::uint8_t* pk = data + 64;
  const std::uint8_t* msg = data + 96;
  const bool theirs = crypto_sign_verify_detached(sig, msg, size - 96, pk) == 0;
  Check(theirs == (tarnc_ed25519_verify(sig, msg, size - 96, pk) != 0));
}

void SignatureText(const std::uint8_t* data, std::size_t size) {
  static const tarn_public_key key = FixedKey();
  const char* text = reinterpret_cast<const char*>(data);
  tarn_verifier v;
  tarn_signature_info info;
  tarn_status whole = tarn_verifier_init(&v, &key, text, size, nullptr, &info);
  std::uint8_t blob[TARN_VERIFIER_RESUME_SIZE];
  if (whole == TARN_OK) {
    const std::size_t cut = size / 3;
    Check(tarn_verifier_update(&v, data, cut) == TARN_OK);
    Check(tarn_verifier_save(&v, blob) == TARN_OK);
    tarn_verifier resumed;
    Check(tarn_verifier_resume(&resumed, &key, blob) == TARN_OK);
    Check(tarn_verifier_update(&v, data + cut, size - cut) == TARN_OK);
    Check(tarn_verifier_update(&resumed, data + cut, size - cut) == TARN_OK);
    whole = tarn_verifier_finish(&v, &info);
    Check(whole == TARN_OK || whole == TARN_BAD_SIGNATURE);
    Check(tarn_verifier_finish(&resumed, nullptr) == whole);
  } else {
    Check(whole == TARN_BAD_SIGNATURE && info.reason != nullptr && info.reason[0] != '\0');
  }
  // Any bytes as a blob: refused, or a checker that runs.
  if (size >= sizeof blob) {
    std::memcpy(blob, data, sizeof blob);
    if (tarn_verifier_resume(&v, &key, blob) == TARN_OK) {
      Check(tarn_verifier_update(&v, data, size) == TARN_OK);
      const tarn_status s = tarn_verifier_finish(&v, nullptr);
      Check(s == TARN_OK || s == TARN_BAD_SIGNATURE);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1 || sodium_init() < 0) return 0;
  if (data[0] == 0) {
    Differential(data + 1, size - 1);
  } else {
    SignatureText(data + 1, size - 1);
  }
  return 0;
}
