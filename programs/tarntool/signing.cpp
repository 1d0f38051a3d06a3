#include "signing.h"

#include <cerrno>
#include <string>
#include <vector>

#include "common/process.h"
#include "platform/platform.h"
#include "platform/secret.h"

namespace tarntool {
namespace {

void Say(const std::string& line) {
  tarn::process::WriteStderr("tarntool: " + line + "\n");
}

std::string CauseOfLastCall() {
  tarn_cause cause;
  tarn_last_cause(&cause);
  return cause.text[0] != '\0' ? std::string(": ") + cause.text : std::string();
}

// A small public file's text (a public key, a signature): at most `max` bytes.
bool ReadPublicFile(const std::string& name, std::size_t max, std::string* text, int* error) {
  tarn::platform::Secret buffer(max);
  const tarn::process::SmallFile read = tarn::process::ReadSmallFile(name, &buffer);
  if (!read.ok || read.fifo || read.too_large) {
    *error = read.too_large || read.fifo ? EFBIG : read.error;
    return false;
  }
  *text = std::string(buffer.text());
  return true;
}

// A new file holding `text`, published whole or not at all (never over an existing one).
bool WriteNewFile(const std::string& name, const std::string& text, tarn::process::Readers readers,
                  std::string* why) {
  const tarn::platform::Status made =
      tarn::process::CreateNewFile(name, text.data(), text.size(), readers);
  if (made) return true;
  const tarn::platform::Cause& cause = made.cause();
  *why = cause.system_error == EEXIST ? std::string("it exists already (never overwritten)")
         : cause.reason != nullptr    ? std::string(cause.reason)
                                      : tarn::platform::ErrorText(cause.system_error);
  return false;
}

// A file that may replace one of the same name (a signature made again), atomically.
bool ReplaceFile(const std::string& name, const std::string& text, std::string* why) {
  tarn::platform::OutputFile out;
  tarn::platform::Status status = out.Create(name, tarn::platform::kNoFile);
  if (status) status = tarn::platform::WriteAt(out.handle(), text.data(), text.size(), 0);
  if (status) status = out.Commit();
  if (status) return true;
  const tarn::platform::Cause& cause = status.cause();
  *why = cause.reason != nullptr ? std::string(cause.reason)
                                 : tarn::platform::ErrorText(cause.system_error);
  return false;
}

// The password's first line, or false having said why.
bool LoadPassword(const KeySource& source, tarn::platform::Secret* text) {
  std::string name, error, warning;
  if (!LoadText(source, "password", "--password-fd", text, &name, &error, &warning)) {
    Say(error);
    return false;
  }
  if (!warning.empty()) Say(warning);
  return true;
}

std::size_t LineLength(std::string_view text) {
  const std::size_t end = text.find_first_of("\r\n");
  return end == std::string_view::npos ? text.size() : end;
}

}  // namespace

std::string KeyIdText(const std::uint8_t id[8]) {
  char text[17];
  tarn_key_id_text(id, text);
  return text;
}

int KeygenSigning(const SigningOptions& options, bool quiet, Printer out) {
  if (options.public_key.empty() || options.secret_key.empty()) {
    Say("keygen --signing needs --public-key and --secret-key");
    return 2;
  }
  tarn::platform::Secret password(TARN_MAX_KEY_TEXT);
  if (options.has_password && !LoadPassword(options.password, &password)) return 2;
  struct Texts {
    char pub[TARN_PUBLIC_KEY_TEXT_MAX], sec[TARN_SECRET_KEY_TEXT_MAX];
  };
  tarn::platform::Secret texts = tarn::platform::Secret::Holding(Texts{});
  Texts& t = texts.As<Texts>();
  const std::string_view pw = password.text();
  const tarn_status made =
      tarn_sign_keygen(options.has_password ? pw.data() : nullptr, LineLength(pw), t.pub, t.sec);
  if (made != TARN_OK) {
    Say(options.secret_key + ": cannot make a signing key: " + tarn_status_string(made) +
        CauseOfLastCall());
    return 2;
  }
  std::string why;
  if (!WriteNewFile(options.secret_key, t.sec, tarn::process::Readers::kOwner, &why)) {
    Say(options.secret_key + ": cannot create the secret key file: " + why);
    return 2;
  }
  if (!WriteNewFile(options.public_key, t.pub, tarn::process::Readers::kEveryone, &why)) {
    Say(options.public_key + ": cannot create the public key file: " + why);
    (void)std::remove(options.secret_key.c_str());  // a pair or nothing
    return 2;
  }
  if (!quiet) {
    const std::string pub = t.pub;
    out(options.public_key + ": public key " + pub.substr(pub.find('\n') + 1, 56) + "\n" +
        options.secret_key + ": secret key" +
        (options.has_password ? " (encrypted)\n" : " (not encrypted: keep the file private)\n"));
  }
  return 0;
}

int SignFiles(const SigningOptions& options, const std::vector<std::string>& files, bool quiet,
              Printer out) {
  if (tarn_can_sign() == 0) {
    Say("this build makes no signatures (built without libsodium); it checks them");
    return 2;
  }
  if (!options.signature.empty() && files.size() != 1) {
    Say("--signature names one signature file: give one FILE with it");
    return 2;
  }
  tarn::platform::Secret secret(TARN_MAX_KEY_TEXT);
  std::string name, error, warning;
  const KeySource source{options.secret_key, "", -1};
  if (!LoadText(source, "secret key", nullptr, &secret, &name, &error, &warning)) {
    Say(error);
    return 2;
  }
  if (!warning.empty()) Say(warning);
  tarn::platform::Secret password(TARN_MAX_KEY_TEXT);
  if (options.has_password && !LoadPassword(options.password, &password)) return 2;
  int status = 0;
  for (const std::string& file : files) {
    tarn_sign_options sign_options{};
    sign_options.has_version = options.version.has_value();
    sign_options.version = options.version.value_or(0);
    sign_options.device = options.device.empty() ? nullptr : options.device.c_str();
    sign_options.comment = options.comment.empty() ? nullptr : options.comment.c_str();
    char text[TARN_SIGNATURE_TEXT_MAX];
    const std::string_view pw = password.text();
    const tarn_status signed_ = tarn_sign_file(
        file.c_str(), secret.text().data(), secret.text().size(),
        options.has_password ? pw.data() : nullptr, LineLength(pw), &sign_options, text);
    if (signed_ == TARN_INVALID_ARGUMENT) {
      Say("--device takes 1 to 63 letters, digits, '.', '_' and '-'; --comment one line without "
          "version= or device= (give --version and --device)");
      return 2;
    }
    if (signed_ != TARN_OK) {
      Say((signed_ == TARN_BAD_KEY ? options.secret_key : file) + ": " +
          (signed_ == TARN_BAD_KEY ? std::string("cannot use the secret key")
                                   : std::string(tarn_status_string(signed_))) +
          CauseOfLastCall());
      if (signed_ == TARN_BAD_KEY) return 2;
      status = 2;
      continue;
    }
    const std::string target = options.signature.empty() ? file + ".minisig" : options.signature;
    std::string why;
    if (!ReplaceFile(target, text, &why)) {
      std::string line = target;
      line.append(": cannot write the signature: ").append(why);
      Say(line);
      status = 2;
      continue;
    }
    if (!quiet) {
      std::string line = target;
      line.append(": signed ").append(file).append("\n");
      out(line);
    }
  }
  return status;
}

bool LoadPublicKey(const std::string& name, tarn_public_key* key, std::string* error) {
  std::string text;
  int code = 0;
  if (!ReadPublicFile(name, std::size_t{TARN_PUBLIC_KEY_TEXT_MAX} * 4, &text, &code)) {
    *error = name + ": cannot read the public key file: " +
             (code == EFBIG ? std::string("too large for one") : tarn::platform::ErrorText(code));
    return false;
  }
  if (tarn_public_key_from_text(key, text.data(), text.size()) != TARN_OK) {
    *error = name + ": not a public key file";
    return false;
  }
  return true;
}

namespace {

// The signature file's text; false with *check saying why not (none there: no signature).
bool ReadSignature(const std::string& name, std::string* text, SignatureCheck* check) {
  int code = 0;
  if (ReadPublicFile(name, 16384, text, &code)) return true;
  check->status = code == ENOENT ? TARN_NO_SIGNATURE : TARN_CANT_OPEN_INPUT;
  if (code != ENOENT) {
    check->trouble =
        name + ": cannot read the signature: " +
        (code == EFBIG ? std::string("too large for one") : tarn::platform::ErrorText(code));
  }
  return false;
}

tarn_signature_policy PolicyOf(const SigningOptions& options) {
  return {options.min_version, options.device.empty() ? nullptr : options.device.c_str()};
}

}  // namespace

SignatureCheck CheckSignature(const SigningOptions& options, const tarn_public_key& key,
                              const std::string& file) {
  SignatureCheck check;
  std::string text;
  if (!ReadSignature(options.signature.empty() ? file + ".minisig" : options.signature, &text,
                     &check)) {
    return check;
  }
  const tarn_signature_policy policy = PolicyOf(options);
  check.status = tarn_verify_signature_file(file.c_str(), &key, text.data(), text.size(), &policy,
                                            &check.info);
  if (!tarn_status_is_verdict(check.status)) {
    check.trouble = file + ": " + tarn_status_string(check.status) + CauseOfLastCall();
  }
  return check;
}

tarn::platform::FileHandle SpoolSigned(const SigningOptions& options, const tarn_public_key& key,
                                       tarn::platform::FileHandle in, SignedSpool* spool) {
  namespace platform = tarn::platform;
  std::string text;
  if (ReadSignature(options.signature, &text, &spool->check)) {
    const tarn_signature_policy policy = PolicyOf(options);
    spool->check.status = tarn_verifier_init(&spool->verifier, &key, text.data(), text.size(),
                                             &policy, &spool->check.info);
    spool->live = spool->check.status == TARN_OK;
  }
  const platform::FileHandle file = platform::CreateTemporaryFile();
  if (file == platform::kNoFile) return file;
  std::vector<unsigned char> buffer(std::size_t{1} << 20);
  for (std::uint64_t at = 0;;) {
    const std::int64_t got = platform::ReadSome(in, buffer.data(), buffer.size());
    if (got == 0) break;
    const auto n = static_cast<std::size_t>(got);
    if (got < 0 || !platform::WriteAt(file, buffer.data(), n, at)) {
      platform::Close(file);
      return platform::kNoFile;
    }
    if (spool->live) (void)tarn_verifier_update(&spool->verifier, buffer.data(), n);
    at += n;
  }
  if (!platform::Rewind(file)) {
    platform::Close(file);
    return platform::kNoFile;
  }
  return file;
}

void FinishSigned(SignedSpool* spool) {
  if (spool->live) spool->check.status = tarn_verifier_finish(&spool->verifier, &spool->check.info);
  spool->live = false;
}

std::string SignatureWords(const SigningOptions& options, const SignatureCheck& check) {
  switch (check.status) {
    case TARN_OK: {
      std::string words = "signature ok (key " + KeyIdText(check.info.key_id);
      if (check.info.has_version) words += ", version " + std::to_string(check.info.version);
      if (check.info.device[0] != '\0') words += std::string(", device ") + check.info.device;
      return words + ")";
    }
    case TARN_NO_SIGNATURE:
      return "no signature";
    case TARN_OLDER_VERSION:
      return "older than " + std::to_string(options.min_version);
    case TARN_OTHER_DEVICE:
      return "made for another device";
    case TARN_BAD_SIGNATURE:
      return std::string("bad signature (") + check.info.reason + ")";
    default:
      return std::string("signature unchecked (") + tarn_status_string(check.status) + ")";
  }
}

}  // namespace tarntool
