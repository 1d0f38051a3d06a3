// tarntool's signatures: signing keys made, files signed, and a signature checked beside a
// container's own checks, in minisign's formats.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "key_source.h"
#include "platform/platform.h"
#include "tarn/tarn.h"

namespace tarntool {

struct SigningOptions {
  std::string public_key, secret_key, signature;
  KeySource password;
  bool has_password = false;
  std::optional<std::uint64_t> version;
  std::uint64_t min_version = 0;
  std::string device, comment;
};

// Where result lines go (the standard output, through the program's own writer).
using Printer = void (*)(const std::string& text);

// keygen --signing: a new key pair into two new files (the secret one 0600). The exit status.
int KeygenSigning(const SigningOptions& options, bool quiet, Printer out);

// sign: FILE.minisig (or options.signature for one file) for each file. The exit status.
int SignFiles(const SigningOptions& options, const std::vector<std::string>& files, bool quiet,
              Printer out);

// A signature's check beside a container's: the verdict and what it said.
struct SignatureCheck {
  tarn_status status = TARN_OK;
  tarn_signature_info info{};
  std::string trouble;  // why it could not be checked (a file that cannot be read), else ""
};

// The public key file's key, or false with *error.
bool LoadPublicKey(const std::string& name, tarn_public_key* key, std::string* error);

// Checks `file` against its signature (options.signature, or FILE.minisig).
SignatureCheck CheckSignature(const SigningOptions& options, const tarn_public_key& key,
                              const std::string& file);

// The standard input checked against its signature as it is read, once: its bytes go to the
// checker (when the signature file's own checks passed) and into an unnamed temporary file,
// which is returned rewound for the container's check; kNoFile when the input could not be
// read or kept (the cause is the thread's last). finish ends the checker's part into *check.
struct SignedSpool {
  tarn_verifier verifier;
  SignatureCheck check;
  bool live = false;  // the checker takes the bytes
};
tarn::platform::FileHandle SpoolSigned(const SigningOptions& options, const tarn_public_key& key,
                                       tarn::platform::FileHandle in, SignedSpool* spool);
void FinishSigned(SignedSpool* spool);

// The verdict's words: "signature ok", "bad signature (...)", "no signature", "older than N",
// "made for another device".
std::string SignatureWords(const SigningOptions& options, const SignatureCheck& check);

// The key id as tarn_key_id_text writes it.
std::string KeyIdText(const std::uint8_t id[8]);

}  // namespace tarntool
