// The signature checker against libsodium, the reference the hosts sign with: the two hashes,
// Ed25519's acceptance bit for bit (the cases where implementations differ), and the checker
// object's comment fields, policy and resumption.
#include <gtest/gtest.h>
#include <sodium.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/core.h"
#include "tarn/tarn.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes RandomBytes(std::size_t n) {
  Bytes b(n);
  if (n != 0) randombytes_buf(b.data(), n);
  return b;
}

Bytes FromHex(const char* hex) {
  Bytes b(std::strlen(hex) / 2);
  for (std::size_t i = 0; i < b.size(); ++i)
    b[i] = static_cast<std::uint8_t>(std::stoi(std::string(hex + 2 * i, 2), nullptr, 16));
  return b;
}

class Signatures : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_GE(sodium_init(), 0); }
};

TEST_F(Signatures, HashesAgreeWithTheReferenceInAnyPieces) {
  for (const std::size_t n : {0, 1, 111, 112, 127, 128, 129, 256, 257, 1000}) {
    const Bytes data = RandomBytes(n);
    std::uint8_t sha[64], b2[64], ours[64];
    crypto_hash_sha512(sha, data.data(), n);
    crypto_generichash(b2, 64, data.data(), n, nullptr, 0);
    for (const std::size_t piece : {std::size_t{1}, std::size_t{7}, std::size_t{128}, n + 1}) {
      tarnc_hash s;
      tarnc_sha512_init(&s);
      for (std::size_t at = 0; at < n; at += piece) {
        tarnc_sha512_update(&s, data.data() + at, std::min(piece, n - at));
      }
      tarnc_sha512_final(&s, ours);
      EXPECT_EQ(0, std::memcmp(ours, sha, 64)) << "SHA-512 of " << n << " by " << piece;
      tarnc_blake2b_init(&s);
      for (std::size_t at = 0; at < n; at += piece) {
        tarnc_blake2b_update(&s, data.data() + at, std::min(piece, n - at));
      }
      tarnc_blake2b_final(&s, ours);
      EXPECT_EQ(0, std::memcmp(ours, b2, 64)) << "BLAKE2b of " << n << " by " << piece;
    }
  }
}

struct Case {
  Bytes sig, pk, msg;
};

bool Theirs(const Case& c) {
  return crypto_sign_verify_detached(c.sig.data(), c.msg.data(), c.msg.size(), c.pk.data()) == 0;
}

bool Ours(const Case& c) {
  return tarnc_ed25519_verify(c.sig.data(), c.msg.data(), c.msg.size(), c.pk.data()) != 0;
}

// A signature under the scalar `a` for the point `key` (which may differ from [a]B by a point of
// small order): what a signer with a tampered key would make.
Case SignWith(const std::uint8_t a[32], const Bytes& key, const Bytes& msg) {
  std::uint8_t r[32], big[64], k[32], s[32];
  crypto_core_ed25519_scalar_random(r);
  Case c{Bytes(64), key, msg};
  EXPECT_EQ(0, crypto_scalarmult_ed25519_base_noclamp(c.sig.data(), r));
  crypto_hash_sha512_state h;
  crypto_hash_sha512_init(&h);
  crypto_hash_sha512_update(&h, c.sig.data(), 32);
  crypto_hash_sha512_update(&h, key.data(), 32);
  crypto_hash_sha512_update(&h, msg.data(), msg.size());
  crypto_hash_sha512_final(&h, big);
  crypto_core_ed25519_scalar_reduce(k, big);
  crypto_core_ed25519_scalar_mul(s, k, a);
  crypto_core_ed25519_scalar_add(s, s, r);
  std::memcpy(c.sig.data() + 32, s, 32);
  return c;
}

TEST_F(Signatures, Rfc8032VectorsHold) {
  const struct {
    const char *seed, *pk, *msg, *sig;
  } vectors[] = {
      {"9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60",
       "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a", "",
       "e5564300c360ac729086e2cc806e828a84877f1eb8e5d974d873e065224901555fb8821590a33bacc61e39701c"
       "f9b46bd25bf5f0595bbe24655141438e7a100b"},
      {"4ccd089b28ff96da9db6c346ec114e0f5b8a319f35aba624da8cf6ed4fb8a6fb",
       "3d4017c3e843895a92b70aa74d1b7ebc9c982ccf2ec4968cc0cd55f12af4660c", "72",
       "92a009a9f0d4cab8720e820b5f642540a2b27b5416503f8fb3762223ebdb69da085ac1e43e15996e458f3613d0"
       "f11d8c387b2eaeb4302aeeb00d291612bb0c00"}};
  for (const auto& v : vectors) {
    const Case c{FromHex(v.sig), FromHex(v.pk), FromHex(v.msg)};
    EXPECT_TRUE(Ours(c)) << v.pk;
    EXPECT_TRUE(Theirs(c)) << v.pk;
  }
}

// Every case where a checker may differ from the reference: each one-bit change of a good
// signature, key and message; S plus the group order; keys and R of small order, both signs;
// keys above p; keys with a small-order part, for which cofactored and cofactorless checks part.
TEST_F(Signatures, Ed25519AcceptsExactlyWhatTheReferenceAccepts) {
  std::vector<Case> cases;
  std::uint8_t pk[32], sk[64];
  crypto_sign_keypair(pk, sk);
  Case good{Bytes(64), Bytes(pk, pk + 32), RandomBytes(40)};
  crypto_sign_detached(good.sig.data(), nullptr, good.msg.data(), good.msg.size(), sk);
  cases.push_back(good);
  for (Bytes Case::*part : {&Case::sig, &Case::pk, &Case::msg}) {
    for (std::size_t bit = 0; bit < 8 * (good.*part).size(); ++bit) {
      Case c = good;
      (c.*part)[bit / 8] ^= static_cast<std::uint8_t>(1u << (bit % 8));
      cases.push_back(c);
    }
  }
  {
    static const std::uint8_t order[32] = {0xED, 0xD3, 0xF5, 0x5C, 0x1A, 0x63, 0x12, 0x58,
                                           0xD6, 0x9C, 0xF7, 0xA2, 0xDE, 0xF9, 0xDE, 0x14,
                                           0,    0,    0,    0,    0,    0,    0,    0,
                                           0,    0,    0,    0,    0,    0,    0,    0x10};
    Case c = good;
    unsigned carry = 0;
    for (int i = 0; i < 32; ++i) {
      carry += c.sig[32 + i] + order[i];
      c.sig[32 + i] = static_cast<std::uint8_t>(carry);
      carry >>= 8;
    }
    cases.push_back(c);
  }
  std::vector<Bytes> odd_points;
  const char* small[] = {"0000000000000000000000000000000000000000000000000000000000000000",
                         "0100000000000000000000000000000000000000000000000000000000000000",
                         "26e8958fc2b227b045c3f489f2ef98f0d5dfac05d3c63339b13802886d53fc05",
                         "c7176a703d4dd84fba3c0b760d10670f2a2053fa2c39ccc64ec7fd7792ac037a",
                         "ecffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f"};
  for (const char* hex : small) odd_points.push_back(FromHex(hex));
  for (int k = 0; k < 19; ++k) {  // p + k: above p
    Bytes y = FromHex("edffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f");
    y[0] = static_cast<std::uint8_t>(0xED + k);
    if (k >= 0x13) y[0] = 0xFF;
    odd_points.push_back(y);
  }
  for (std::size_t i = 0, n = odd_points.size(); i < n; ++i) {
    Bytes negative = odd_points[i];
    negative[31] ^= 0x80;
    odd_points.push_back(negative);
  }
  for (const Bytes& point : odd_points) {
    Case as_key = good;
    as_key.pk = point;
    cases.push_back(as_key);
    Case as_r = good;
    std::copy(point.begin(), point.end(), as_r.sig.begin());
    cases.push_back(as_r);
    for (const Bytes& other : odd_points) {  // R and A both odd, S = 0
      Case both{Bytes(64), point, good.msg};
      std::copy(other.begin(), other.end(), both.sig.begin());
      cases.push_back(both);
    }
  }
  // A key with a part of order 8: accepted by both exactly when 8 divides the hash.
  std::uint8_t a[32], base_a[32], mixed[32];
  crypto_core_ed25519_scalar_random(a);
  ASSERT_EQ(0, crypto_scalarmult_ed25519_base_noclamp(base_a, a));
  ASSERT_EQ(0, crypto_core_ed25519_add(mixed, base_a, FromHex(small[2]).data()));
  for (int i = 0; i < 64; ++i) {
    cases.push_back(SignWith(a, Bytes(mixed, mixed + 32), RandomBytes(16)));
  }
  for (int i = 0; i < 64; ++i) cases.push_back(Case{RandomBytes(64), RandomBytes(32), {}});

  int accepted = 0;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const bool theirs = Theirs(cases[i]);
    EXPECT_EQ(theirs, Ours(cases[i])) << "case " << i;
    accepted += theirs;
  }
  // The table is not all refusals: the good signature and about an eighth of the mixed key's.
  EXPECT_GE(accepted, 2);
}

// --- The checker object over minisign's signature file.

struct Signer {
  std::uint8_t pk[32], sk[64], id[8];
  Signer() {
    crypto_sign_keypair(pk, sk);
    randombytes_buf(id, sizeof id);
  }
  tarn_public_key Public() const {
    tarn_public_key k;
    std::memcpy(k.id, id, 8);
    std::memcpy(k.key, pk, 32);
    return k;
  }
  std::string Sign(const Bytes& data, const std::string& comment, bool prehashed = true) const {
    std::uint8_t raw[74], global[64], digest[64];
    std::memcpy(raw, prehashed ? "ED" : "Ed", 2);
    std::memcpy(raw + 2, id, 8);
    if (prehashed) {
      crypto_generichash(digest, 64, data.data(), data.size(), nullptr, 0);
      crypto_sign_detached(raw + 10, nullptr, digest, 64, sk);
    } else {
      crypto_sign_detached(raw + 10, nullptr, data.data(), data.size(), sk);
    }
    std::string covered(reinterpret_cast<char*>(raw + 10), 64);
    covered += comment;
    crypto_sign_detached(global, nullptr, reinterpret_cast<const std::uint8_t*>(covered.data()),
                         covered.size(), sk);
    char b1[200], b2[200];
    sodium_bin2base64(b1, sizeof b1, raw, sizeof raw, sodium_base64_VARIANT_ORIGINAL);
    sodium_bin2base64(b2, sizeof b2, global, sizeof global, sodium_base64_VARIANT_ORIGINAL);
    return std::string("untrusted comment: x\n") + b1 + "\ntrusted comment: " + comment + "\n" +
           b2 + "\n";
  }
};

tarn_status Check(const tarn_public_key& key, const std::string& sig, const Bytes& data,
                  const tarn_signature_policy* policy = nullptr,
                  tarn_signature_info* info = nullptr) {
  tarn_verifier v;
  tarn_status s = tarn_verifier_init(&v, &key, sig.data(), sig.size(), policy, info);
  if (s != TARN_OK) return s;
  EXPECT_EQ(TARN_OK, tarn_verifier_update(&v, data.data(), data.size()));
  return tarn_verifier_finish(&v, info);
}

TEST_F(Signatures, CommentFieldsAndPolicy) {
  const Signer signer;
  const Bytes data = RandomBytes(300);
  const struct {
    const char* comment;
    std::uint64_t min_version;
    const char* device;
    tarn_status want;
  } table[] = {
      {"timestamp:1\tfile:version=9\thashed", 0, nullptr, TARN_OK},
      {"file:version=9", 1, nullptr, TARN_OLDER_VERSION},  // no version field at all
      {"version=7 device=board-a.2", 7, "board-a.2", TARN_OK},
      {"version=6\tdevice=board-a", 7, nullptr, TARN_OLDER_VERSION},
      {"version=18446744073709551615", 18446744073709551615u, nullptr, TARN_OK},
      {"version=18446744073709551616", 0, nullptr, TARN_BAD_SIGNATURE},
      {"version=7 version=7", 0, nullptr, TARN_BAD_SIGNATURE},
      {"version=", 0, nullptr, TARN_BAD_SIGNATURE},
      {"version=0x7", 0, nullptr, TARN_BAD_SIGNATURE},
      {"device=board-b", 0, "board-a", TARN_OTHER_DEVICE},
      {"version=9", 0, "board-a", TARN_OTHER_DEVICE},
      {"device=a/b", 0, nullptr, TARN_BAD_SIGNATURE},
      {"device=a device=a", 0, nullptr, TARN_BAD_SIGNATURE},
  };
  for (const auto& row : table) {
    const tarn_signature_policy policy{row.min_version, row.device};
    EXPECT_EQ(row.want, Check(signer.Public(), signer.Sign(data, row.comment), data, &policy))
        << row.comment;
  }
  tarn_signature_info info;
  ASSERT_EQ(TARN_OK,
            Check(signer.Public(), signer.Sign(data, "version=7 device=b"), data, nullptr, &info));
  EXPECT_TRUE(info.prehashed && info.has_version && info.version == 7);
  EXPECT_STREQ("b", info.device);
}

TEST_F(Signatures, RefusesWhatIsNotTheSignedBytesCommentOrKey) {
  const Signer signer, other;
  const Bytes data = RandomBytes(1000);
  for (const bool prehashed : {true, false}) {
    const std::string sig = signer.Sign(data, "version=3", prehashed);
    EXPECT_EQ(TARN_OK, Check(signer.Public(), sig, data));
    Bytes changed = data;
    changed[999] ^= 1;
    EXPECT_EQ(TARN_BAD_SIGNATURE, Check(signer.Public(), sig, changed));
    EXPECT_EQ(TARN_BAD_SIGNATURE, Check(signer.Public(), sig, Bytes(data.begin(), data.end() - 1)));
    std::string comment = sig;
    comment[comment.find("version=3") + 8] = '4';
    EXPECT_EQ(TARN_BAD_SIGNATURE, Check(signer.Public(), comment, data));
    tarn_public_key wrong = other.Public();
    std::memcpy(wrong.id, signer.id, 8);  // the right id, another key
    EXPECT_EQ(TARN_BAD_SIGNATURE, Check(wrong, sig, data));
    EXPECT_EQ(TARN_BAD_SIGNATURE, Check(other.Public(), sig, data));
    std::string crlf;
    for (const char c : sig) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    EXPECT_EQ(TARN_OK, Check(signer.Public(), crlf, data));
    EXPECT_EQ(TARN_BAD_SIGNATURE, Check(signer.Public(), sig.substr(0, sig.size() / 2), data));
  }
}

TEST_F(Signatures, ResumedCheckerGivesTheVerdictOfOneNeverCut) {
  const Signer signer;
  const Bytes data = RandomBytes(700);
  for (const bool prehashed : {true, false}) {
    const std::string sig = signer.Sign(data, "version=1", prehashed);
    const tarn_public_key key = signer.Public();
    for (const std::size_t cut : {std::size_t{0}, std::size_t{1}, std::size_t{128},
                                  std::size_t{129}, std::size_t{699}, std::size_t{700}}) {
      tarn_verifier v;
      ASSERT_EQ(TARN_OK, tarn_verifier_init(&v, &key, sig.data(), sig.size(), nullptr, nullptr));
      ASSERT_EQ(TARN_OK, tarn_verifier_update(&v, data.data(), cut));
      std::uint8_t blob[TARN_VERIFIER_RESUME_SIZE];
      ASSERT_EQ(TARN_OK, tarn_verifier_save(&v, blob));
      std::memset(&v, 0xA5, sizeof v);  // the power cut: RAM is gone
      ASSERT_EQ(TARN_OK, tarn_verifier_resume(&v, &key, blob));
      ASSERT_EQ(TARN_OK, tarn_verifier_update(&v, data.data() + cut, data.size() - cut));
      tarn_signature_info info;
      EXPECT_EQ(TARN_OK, tarn_verifier_finish(&v, &info)) << cut;
      EXPECT_EQ(1u, info.version);
      // A torn blob, or another key, is never resumed.
      for (const std::size_t at : {std::size_t{0}, std::size_t{100}, sizeof blob - 1}) {
        std::uint8_t torn[sizeof blob];
        std::memcpy(torn, blob, sizeof blob);
        torn[at] ^= 0x10;
        EXPECT_EQ(TARN_INVALID_ARGUMENT, tarn_verifier_resume(&v, &key, torn)) << at;
      }
      tarn_public_key other = key;
      other.id[0] ^= 1;
      EXPECT_EQ(TARN_INVALID_ARGUMENT, tarn_verifier_resume(&v, &other, blob));
    }
  }
}

TEST_F(Signatures, PublicKeyText) {
  const Signer signer;
  std::uint8_t raw[42];
  std::memcpy(raw, "Ed", 2);
  std::memcpy(raw + 2, signer.id, 8);
  std::memcpy(raw + 10, signer.pk, 32);
  char b64[100];
  sodium_bin2base64(b64, sizeof b64, raw, sizeof raw, sodium_base64_VARIANT_ORIGINAL);
  tarn_public_key key;
  for (const std::string& text : {std::string("untrusted comment: k\n") + b64 + "\n",
                                  std::string(b64), std::string(b64) + "\r\n"}) {
    ASSERT_EQ(TARN_OK, tarn_public_key_from_text(&key, text.data(), text.size()));
    EXPECT_EQ(0, std::memcmp(key.key, signer.pk, 32));
  }
  std::string bad = b64;
  bad[10] = '*';
  EXPECT_EQ(TARN_INVALID_ARGUMENT, tarn_public_key_from_text(&key, bad.data(), bad.size()));
  bad = std::string(b64) + "\nmore";
  EXPECT_EQ(TARN_INVALID_ARGUMENT, tarn_public_key_from_text(&key, bad.data(), bad.size()));
}

}  // namespace
