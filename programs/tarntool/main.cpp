// tarntool: inspect, verify, encode, decode and re-key containers, and make keys, with the
// conventions of build tools: GNU options, keys from a file, the environment or a descriptor,
// results on stdout (optionally JSON), messages on stderr, progress on a terminal.
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <iterator>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "common/process.h"
#include "key_source.h"
#include "platform/platform.h"
#include "platform/secret.h"
#include "signing.h"
#include "streams.h"
#include "tarn/tarn.h"
#include "util/simd_mask.h"

namespace tarntool {
namespace {

// Exit statuses: every file fine; a file failed a check; usage or operational trouble.
constexpr int kExitOk = 0;
constexpr int kExitCheckFailed = 1;
constexpr int kExitTrouble = 2;

struct Options {
  KeySource key, new_key;
  SigningOptions signing;
  bool signing_keys = false;
  std::string output;
  std::vector<std::string> files;
  bool json = false;
  bool quiet = false;
  unsigned jobs = 0;
};

// A name as a terminal may show it: as it is, or, when it holds control or escape bytes, quoted
// as `ls` does ('a'$'\n''b'), so that no byte of a name moves the cursor or changes colours.
std::string Shown(const std::string& name) {
  const bool plain = std::none_of(name.begin(), name.end(), [](char c) {
    return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
  });
  if (plain) return name;
  std::string shown = "'";
  for (const char c : name) {
    const auto b = static_cast<unsigned char>(c);
    if (b == '\n') {
      shown += "'$'\\n''";
    } else if (b == '\t') {
      shown += "'$'\\t''";
    } else if (b < 0x20 || b == 0x7F) {
      char escape[16];
      (void)std::snprintf(escape, sizeof escape, "'$'\\%03o''", b);
      shown += escape;
    } else if (c == '\'') {
      shown += "'\\''";
    } else {
      shown += c;
    }
  }
  return shown + "'";
}

void Message(const std::string& name, const std::string& reason) {
  tarn::process::WriteStderr("tarntool: " + Shown(name) + ": " + reason + "\n");
}

// The first failure to write the standard output: the run then ends with status 2.
int g_stdout_error = 0;

void Out(const std::string& text) {
  if (g_stdout_error != 0) return;
  g_stdout_error = tarn::process::WriteStdout(text.data(), text.size());
}

// ": " and the cause behind a failed file call on this thread, or nothing.
std::string CauseText(const tarn_cause& cause) {
  return cause.text[0] != '\0' ? std::string(": ") + cause.text : std::string();
}

std::string LastCause() {
  tarn_cause cause;
  tarn_last_cause(&cause);
  return CauseText(cause);
}

// A check's verdict as a line: the library's word for it, read as words ("payload damaged"),
// and for a mismatched image what may cause it.
std::string VerdictLine(tarn_status status) {
  std::string line = tarn_status_name(status);
  std::replace(line.begin(), line.end(), '-', ' ');
  if (status == TARN_IMAGE_MISMATCH) line += " (wrong key or damaged header)";
  return line;
}

bool IsCheckFailure(tarn_status status) {
  return status != TARN_OK && tarn_status_is_verdict(status);
}

int ExitFor(tarn_status status) {
  if (status == TARN_OK) return kExitOk;
  return IsCheckFailure(status) ? kExitCheckFailed : kExitTrouble;
}

std::string Hex32(std::uint32_t value) {
  char text[16];
  (void)std::snprintf(text, sizeof text, "0x%08X", value);
  return text;
}

// A progress line on a terminal's standard error, once a run takes longer than half a second:
// percent, MB/s and the time left, redrawn at most ten times a second. Once every byte went
// through, the line says the output is being made durable (no estimate: the system decides how
// long writing back takes). It is cleared when the run ends on any path, a terminating signal
// included.
class ProgressLine {
 public:
  // The name is shown as result lines show it: no byte of it moves the cursor.
  ProgressLine(const std::string& name, bool enabled) : name_(Shown(name)), enabled_(enabled) {}
  ~ProgressLine() {
    if (shown_) {
      tarn::process::WriteStderr("\r\033[K");
      tarn::process::ClearLineOnSignal(false);
    }
  }
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  static int Report(void* self, std::uint64_t done, std::uint64_t total) {
    static_cast<ProgressLine*>(self)->Update(done, total);
    return 0;
  }
  tarn_progress_fn fn() const { return enabled_ ? Report : nullptr; }

 private:
  void Update(std::uint64_t done, std::uint64_t total) {
    const auto now = std::chrono::steady_clock::now();
    const double seconds = std::chrono::duration<double>(now - start_).count();
    if (seconds < 0.5 || total == 0) return;
    if (shown_ && done < total && now - drawn_ < std::chrono::milliseconds(100)) return;
    if (shown_ && done == total && finishing_) return;
    drawn_ = now;
    const double rate = static_cast<double>(done) / seconds;
    char line[256];
    if (done >= total) {
      finishing_ = true;
      (void)std::snprintf(line, sizeof line, "\r%s: 100%%  %.1f MB/s  writing out\033[K",
                          name_.c_str(), rate / 1e6);
    } else {
      const double left = rate > 0 ? static_cast<double>(total - done) / rate : 0;
      (void)std::snprintf(line, sizeof line, "\r%s: %3.0f%%  %.1f MB/s  %.0f s left\033[K",
                          name_.c_str(),
                          100.0 * static_cast<double>(done) / static_cast<double>(total),
                          rate / 1e6, left < 1 ? 1 : left);
    }
    if (!shown_) tarn::process::ClearLineOnSignal(true);
    tarn::process::WriteStderr(line);
    shown_ = true;
  }

  std::string name_;
  bool enabled_;
  bool shown_ = false, finishing_ = false;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now(), drawn_;
};

bool ShowProgress(const Options& options) {
  return !options.quiet && tarn::process::StderrIsInteractive();
}

// --- info and verify ---------------------------------------------------------------------

struct Checked {
  tarn_status status = TARN_OK;
  tarn_info info{};
  tarn_cause cause{};
  std::optional<SignatureCheck> signature;  // when a public key was given
};

// The container's verdict, then the signature's: a file passes only when both do.
tarn_status Overall(const Checked& c) {
  if (c.status != TARN_OK || !c.signature) return c.status;
  return c.signature->status;
}

// A field of the header as JSON, or null when the file does not hold it: a file that is not a
// container has none, and one cut short lacks the words past its end.
nlohmann::json Field(const Checked& c, std::size_t word, const nlohmann::json& value) {
  const bool container = c.status != TARN_NOT_A_CONTAINER && c.status != TARN_CANT_OPEN_INPUT &&
                         c.status != TARN_READ_FAILED;
  return container && c.info.container_size >= 4 * (word + 1) ? value : nullptr;
}

nlohmann::json ToJson(const std::string& file, const Checked& c) {
  const bool read = c.status != TARN_CANT_OPEN_INPUT && c.status != TARN_READ_FAILED;
  const auto checked = [](int was, int ok) { return was ? nlohmann::json(ok != 0) : nullptr; };
  nlohmann::json j;
  j["file"] = file;
  j["verdict"] = tarn_status_is_verdict(c.status) ? tarn_status_name(c.status) : "unreadable";
  j["image_size"] = Field(c, 12, c.info.image_size);
  j["container_size"] = read ? nlohmann::json(c.info.container_size) : nullptr;
  j["image_crc32"] = Field(c, 8, Hex32(c.info.image_crc));
  j["payload_crc32"] = Field(c, 7, Hex32(c.info.payload_crc));
  j["payload_ok"] = checked(c.info.payload_checked, c.info.payload_ok);
  j["image_ok"] = checked(c.info.image_checked, c.info.image_ok);
  nlohmann::json words = nlohmann::json::array();
  for (std::size_t w = 0; w < std::size(c.info.words); ++w) {
    if (!Field(c, w, 0).is_null()) words.push_back(c.info.words[w]);
  }
  j["words"] = words;
  if (c.signature) {
    const SignatureCheck& sig = *c.signature;
    nlohmann::json js;
    js["verdict"] =
        tarn_status_is_verdict(sig.status) ? tarn_status_name(sig.status) : "unreadable";
    const bool said = sig.status == TARN_OK || sig.status == TARN_OLDER_VERSION ||
                      sig.status == TARN_OTHER_DEVICE;
    js["key_id"] = said ? nlohmann::json(KeyIdText(sig.info.key_id)) : nullptr;
    js["version"] = said && sig.info.has_version ? nlohmann::json(sig.info.version) : nullptr;
    js["device"] = said && sig.info.device[0] != '\0' ? nlohmann::json(sig.info.device) : nullptr;
    js["reason"] = sig.info.reason != nullptr && sig.info.reason[0] != '\0'
                       ? nlohmann::json(sig.info.reason)
                       : nullptr;
    j["signature"] = js;
  }
  return j;
}

std::string Describe(const Checked& c, bool with_key) {
  if (c.status == TARN_OK && !with_key) return "payload intact";
  return tarn_status_is_verdict(c.status)
             ? VerdictLine(c.status)
             : std::string("unreadable (") + tarn_status_string(c.status) + ")";
}

int CheckFiles(const Options& options, const tarn_key* key, const tarn_public_key* signer) {
  std::vector<Checked> results(options.files.size());
  const unsigned jobs = std::max(
      1u, std::min<unsigned>(options.jobs != 0 ? options.jobs : std::thread::hardware_concurrency(),
                             static_cast<unsigned>(options.files.size())));
  const bool progress = jobs == 1 && ShowProgress(options) && !options.json;
  std::atomic<std::size_t> next{0};
  auto work = [&] {
    for (std::size_t i = next++; i < options.files.size(); i = next++) {
      ProgressLine line(options.files[i], progress);
      if (IsStdio(options.files[i]) && signer != nullptr) {
        // One read of the pipe: the signature checked as it goes into a temporary file, which
        // the container's check then reads.
        SignedSpool spool;
        const tarn::platform::FileHandle file =
            SpoolSigned(options.signing, *signer, tarn::process::StandardInput(), &spool);
        if (file == tarn::platform::kNoFile) {
          results[i].status = TARN_READ_FAILED;
        } else {
          results[i].status = tarn::codec::RunDecode(tarn::codec::End{nullptr, file}, nullptr, key,
                                                     nullptr, &results[i].info, line.fn(), &line);
          tarn::platform::Close(file);
          FinishSigned(&spool);
          results[i].signature = spool.check;
        }
      } else if (IsStdio(options.files[i])) {
        results[i].status = tarn::codec::RunDecode(EndOf("-", false), nullptr, key, nullptr,
                                                   &results[i].info, line.fn(), &line);
      } else {
        results[i].status =
            tarn_verify_file(options.files[i].c_str(), key, &results[i].info, line.fn(), &line);
      }
      tarn_last_cause(&results[i].cause);
      if (signer != nullptr && !results[i].signature && tarn_status_is_verdict(results[i].status)) {
        results[i].signature = CheckSignature(options.signing, *signer, options.files[i]);
      }
    }
  };
  std::vector<std::thread> threads;
  for (unsigned t = 1; t < jobs; ++t) {
    try {
      threads.emplace_back(work);
    } catch (const std::system_error&) {
      break;  // no more threads to be had: the files go to those there are
    }
  }
  work();
  for (std::thread& t : threads) t.join();

  int status = kExitOk;
  nlohmann::json all = nlohmann::json::array();
  for (std::size_t i = 0; i < results.size(); ++i) {
    const Checked& c = results[i];
    status = std::max(status, ExitFor(Overall(c)));
    if (options.json) {
      all.push_back(ToJson(options.files[i], c));
      continue;
    }
    if (!IsCheckFailure(c.status) && c.status != TARN_OK) {
      Message(options.files[i], tarn_status_string(c.status) + CauseText(c.cause));
      continue;
    }
    if (c.signature && !c.signature->trouble.empty()) {
      Message(options.files[i], c.signature->trouble);
      continue;
    }
    std::string verdict = Describe(c, key != nullptr);
    if (c.signature) verdict += "; " + SignatureWords(options.signing, *c.signature);
    // Quiet: nothing for a file that is fine, still a line for one that is not.
    if (options.quiet && Overall(c) == TARN_OK) continue;
    if (options.quiet) {
      Out(Shown(options.files[i]) + ": " + verdict + "\n");
      continue;
    }
    std::string text = Shown(options.files[i]) + ": " + verdict + "\n";
    if (key == nullptr && c.status != TARN_NOT_A_CONTAINER) {
      char details[256];
      (void)std::snprintf(details, sizeof details,
                          "  image size      %llu bytes\n  container size  %llu bytes\n"
                          "  image crc32     %s\n  payload crc32   %s\n  version words   %u, %u\n",
                          static_cast<unsigned long long>(c.info.image_size),
                          static_cast<unsigned long long>(c.info.container_size),
                          Hex32(c.info.image_crc).c_str(), Hex32(c.info.payload_crc).c_str(),
                          c.info.words[9], c.info.words[11]);
      text += details;
    }
    Out(text);
  }
  if (options.json) {
    Out(all.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n");
  }
  return status;
}

// --- encode, decode, rekey, keygen ---------------------------------------------------------

// Reports a failed run of one file operation and gives its exit status.
int Failed(tarn_status status, const std::string& input, const std::string& output) {
  const bool about_output = status == TARN_CANT_CREATE_OUTPUT || status == TARN_WRITE_FAILED;
  // A verdict says all; a cause left by an earlier write does not belong to it.
  Message(about_output ? output : input,
          tarn_status_string(status) + (tarn_status_is_verdict(status) ? "" : LastCause()));
  return ExitFor(status);
}

bool LoadKeyOrSay(const KeySource& source, tarn_key* key) {
  std::string error, warning;
  const bool loaded = LoadKey(source, key, &error, &warning);
  // A key file others may read is worth a line even with --quiet.
  if (!warning.empty()) tarn::process::WriteStderr("tarntool: " + warning + "\n");
  if (loaded) return true;
  tarn::process::WriteStderr("tarntool: " + error + "\n");
  return false;
}

// The standard streams must carry bytes, not meet a person: a container or image typed at a
// terminal, or written onto one, is never what was meant.
bool StdioUsable(const Options& options) {
  // The standard input can be read once: two of its names would have two readers share it.
  if (std::count_if(options.files.begin(), options.files.end(), IsStdio) > 1) {
    Message("-", "the standard input can be read only once: name it once");
    return false;
  }
  for (const std::string& file : options.files) {
    if (IsStdio(file) && tarn::process::StdinIsInteractive()) {
      Message("-", "the standard input is a terminal: give a file, or pipe the data in");
      return false;
    }
  }
  if (IsStdio(options.output) && tarn::process::StdoutIsInteractive()) {
    Message("-", "the standard output is a terminal: give a file, or pipe it on");
    return false;
  }
  return true;
}

int Transform(const std::string& command, const Options& options) {
  if (!StdioUsable(options)) return kExitTrouble;
  // Writing over a key file would lose the only copy of the key, however it is given.
  for (const KeySource* source : {&options.key, &options.new_key}) {
    if (IsStdio(options.output)) break;
    if ((!source->file.empty() && tarn::process::SameExistingFile(source->file, options.output)) ||
        (source->file.empty() && source->env.empty() && source->fd >= 0 &&
         tarn::process::DescriptorIsFile(source->fd, options.output))) {
      Message(options.output, "can't create output file: is the key file");
      return kExitTrouble;
    }
  }
  struct Keys {
    tarn_key key, new_key;
  };
  tarn::platform::Secret keys = tarn::platform::Secret::Holding(Keys{});
  tarn_key& key = keys.As<Keys>().key;
  tarn_key& new_key = keys.As<Keys>().new_key;
  if (!LoadKeyOrSay(options.key, &key)) return kExitTrouble;
  if (command == "rekey" && !LoadKeyOrSay(options.new_key, &new_key)) {
    return kExitTrouble;
  }
  const std::string& input = options.files.front();
  tarn_status status;
  {
    // Files and streams alike, through the library's codec.
    ProgressLine line(input, ShowProgress(options));
    const tarn::codec::End from = EndOf(input, false), to = EndOf(options.output, true);
    status = command == "encode"
                 ? tarn::codec::RunEncode(from, to, key, line.fn(), &line)
                 : tarn::codec::RunDecode(from, &to, &key, command == "rekey" ? &new_key : nullptr,
                                          nullptr, line.fn(), &line);
  }
  if (status != TARN_OK) return Failed(status, input, options.output);
  if (IsStdio(options.output)) return kExitOk;  // the standard output carries the data alone
  const char* done = command == "encode" ? "encoded" : command == "decode" ? "decoded" : "re-keyed";
  if (!options.quiet) Out(Shown(options.output) + ": " + done + " from " + Shown(input) + "\n");
  return kExitOk;
}

int Keygen(const Options& options) {
  if (IsStdio(options.output)) {
    Message("-",
            "a new key goes only into a new file of its own (0600), never to the standard "
            "output");
    return kExitTrouble;
  }
  struct NewKey {
    unsigned char bytes[16];
    char text[33];
  };
  tarn::platform::Secret secret = tarn::platform::Secret::Holding(NewKey{});
  NewKey& k = secret.As<NewKey>();
  if (!tarn::process::RandomBytes(k.bytes, sizeof k.bytes)) {
    Message(options.output, "no random numbers to be had from the system");
    return kExitTrouble;
  }
  for (std::size_t i = 0; i < sizeof k.bytes; ++i) {
    k.text[2 * i] = "0123456789ABCDEF"[k.bytes[i] >> 4];
    k.text[2 * i + 1] = "0123456789ABCDEF"[k.bytes[i] & 0xF];
  }
  k.text[32] = '\n';
  const tarn::platform::Status made =
      tarn::process::CreateNewFile(options.output, k.text, 33, tarn::process::Readers::kOwner);
  if (!made) {
    const tarn::platform::Cause& cause = made.cause();
    Message(options.output,
            "cannot create the key file: " +
                (cause.system_error == EEXIST ? std::string("it exists already (never overwritten)")
                 : cause.reason != nullptr    ? std::string(cause.reason)
                                              : tarn::platform::ErrorText(cause.system_error)));
    return kExitTrouble;
  }
  if (!options.quiet) Out(Shown(options.output) + ": new key written\n");
  return kExitOk;
}

// --key-file, --key-env, --key-fd (or with `prefix` "new-", the new key's): exactly one.
void AddKeySource(CLI::App* command, KeySource* source, const std::string& prefix = "",
                  bool optional = false) {
  const std::string whose = prefix.empty() ? "the key" : "the new key";
  auto* group = command->add_option_group(prefix.empty() ? "key source" : "new key source",
                                          "exactly one; never the key itself");
  group->add_option("--" + prefix + "key-file", source->file, "read " + whose + " from this file")
      ->type_name("PATH");
  group
      ->add_option("--" + prefix + "key-env", source->env,
                   "read " + whose + " from this environment variable")
      ->type_name("NAME");
  group
      ->add_option("--" + prefix + "key-fd", source->fd,
                   "read " + whose + " from this open descriptor")
      ->type_name("N");
  group->require_option(optional ? 0 : 1, 1);
}

// --password-file, --password-env, --password-fd: at most one.
void AddPasswordSource(CLI::App* command, SigningOptions* signing) {
  auto* group = command->add_option_group("password source", "at most one");
  for (auto [name, what] : {std::pair{"file", "PATH"}, {"env", "NAME"}, {"fd", "N"}}) {
    CLI::Option* option =
        std::string(name) == "fd"
            ? group->add_option("--password-fd", signing->password.fd,
                                "read the secret key's password from this open descriptor")
            : group->add_option(
                  std::string("--password-") + name,
                  std::string(name) == "file" ? signing->password.file : signing->password.env,
                  std::string("read the secret key's password from this ") +
                      (std::string(name) == "file" ? "file" : "environment variable"));
    option->type_name(what)->each([signing](const std::string&) { signing->has_password = true; });
  }
  group->require_option(0, 1);
}

// What a usage error says, in the tool's words, for the line after "tarntool: ".
std::string UsageText(const CLI::ParseError& e) {
  std::string what = e.what();
  for (const char* lead : {"The following argument was not expected: ",
                           "The following arguments were not expected: "}) {
    if (what.rfind(lead, 0) == 0) {
      std::string first = what.substr(std::string(lead).size());
      first.resize(std::min(first.size(), first.find(' ')));
      return (first.size() > 1 && first[0] == '-' ? "unknown option '" : "unexpected argument '") +
             first + "'";
    }
  }
  if (what == "A subcommand is required") {
    return "a command is required (info, verify, encode, decode, rekey, keygen, sign)";
  }
  // "The ..." becomes "the ...", but a name such as FILE keeps its case.
  if (what.size() > 1 && std::isupper(static_cast<unsigned char>(what[0])) &&
      std::islower(static_cast<unsigned char>(what[1]))) {
    what[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(what[0])));
  }
  return what;
}

int Run(int argc, char** argv) {
  CLI::App app{"Inspects, verifies, encodes, decodes and re-keys firmware image containers.",
               "tarntool"};
  app.set_version_flag("--version", std::string("tarntool ") + tarn_version());
  app.require_subcommand(1);
  Options options;

  auto* info = app.add_subcommand("info",
                                  "show each container's header and check its payload "
                                  "(no key needed)");
  info->add_flag("--json", options.json, "print one JSON array");
  info->add_flag("-q,--quiet", options.quiet, "print nothing but errors");
  info->add_option("-j,--jobs", options.jobs, "files read at once (default: processors)")
      ->check(CLI::Range(1u, 1024u));
  info->add_option("FILE", options.files, "containers (- for the standard input)")->required();

  auto* verify = app.add_subcommand(
      "verify",
      "check each container fully, and with --public-key its signature too; writes nothing");
  AddKeySource(verify, &options.key, "", true);
  verify
      ->add_option("--public-key", options.signing.public_key,
                   "check each file's signature (FILE.minisig) under this public key file")
      ->type_name("PUB");
  verify
      ->add_option("--signature", options.signing.signature,
                   "the signature file, for one FILE (default FILE.minisig)")
      ->type_name("SIG");
  verify
      ->add_option("--min-version", options.signing.min_version,
                   "refuse a signature of a lower version= (or none)")
      ->type_name("N");
  verify
      ->add_option("--device", options.signing.device,
                   "refuse a signature for another device= (or none)")
      ->type_name("NAME");
  verify->add_flag("--json", options.json, "print one JSON array");
  verify->add_flag("-q,--quiet", options.quiet, "print nothing but errors");
  verify->add_option("-j,--jobs", options.jobs, "files checked at once (default: processors)")
      ->check(CLI::Range(1u, 1024u));
  verify->add_option("FILE", options.files, "containers (- for the standard input)")->required();

  std::vector<CLI::App*> transforms;
  for (const char* name : {"encode", "decode", "rekey"}) {
    const std::string what = std::string(name) == "encode"   ? "a plain image into a container"
                             : std::string(name) == "decode" ? "a container back into its image"
                                                             : "a container under a new key";
    auto* command = app.add_subcommand(name, what);
    AddKeySource(command, &options.key);
    if (std::string(name) == "rekey") AddKeySource(command, &options.new_key, "new-");
    command
        ->add_option("-o,--output", options.output, "the file to write (- for the standard output)")
        ->required();
    command->add_flag("-q,--quiet", options.quiet, "print nothing but errors");
    command
        ->add_option("INPUT", options.files,
                     "the file to read (- for the standard input); a block device is held "
                     "exclusively, but plain writes to it by others during the run cannot be "
                     "detected")
        ->required()
        ->expected(1);
    transforms.push_back(command);
  }

  auto* keygen = app.add_subcommand(
      "keygen",
      "write a new random key to a new file (0600), or with --signing a signing key pair");
  keygen->add_option("-o,--output", options.output, "the key file to create");
  keygen->add_flag("--signing", options.signing_keys,
                   "make a signing key pair (minisign's format) instead");
  keygen->add_option("--public-key", options.signing.public_key, "--signing: the public key file")
      ->type_name("PUB");
  keygen
      ->add_option("--secret-key", options.signing.secret_key,
                   "--signing: the secret key file (0600; encrypted under the password)")
      ->type_name("SEC");
  AddPasswordSource(keygen, &options.signing);
  keygen->add_flag("-q,--quiet", options.quiet, "print nothing but errors");

  auto* sign = app.add_subcommand("sign", "sign each file: FILE.minisig, in minisign's format");
  sign->add_option("--secret-key", options.signing.secret_key, "the secret key file")
      ->type_name("SEC")
      ->required();
  AddPasswordSource(sign, &options.signing);
  sign->add_option("--version", options.signing.version, "sign as this version (version=N)")
      ->type_name("N");
  sign->add_option("--device", options.signing.device, "sign for this device (device=NAME)")
      ->type_name("NAME");
  sign->add_option("--comment", options.signing.comment, "more text for the trusted comment")
      ->type_name("TEXT");
  sign->add_option("--signature", options.signing.signature,
                   "the signature file, for one FILE (default FILE.minisig)")
      ->type_name("OUT");
  sign->add_flag("-q,--quiet", options.quiet, "print nothing but errors");
  sign->add_option("FILE", options.files, "the files to sign")->required();

  app.allow_extras(false);
  // The first word names a command or asks for help or the version; anything else is named.
  if (argc > 1) {
    const std::string first = argv[1];
    bool known = first == "--help" || first == "-h" || first == "--version";
    for (const CLI::App* command : app.get_subcommands({}))
      known = known || command->get_name() == first;
    if (!known) {
      const std::string what =
          first.size() > 1 && first[0] == '-' ? "unknown option '" : "unknown command '";
      tarn::process::WriteStderr("tarntool: " + what + first +
                                 "'\nTry 'tarntool --help' for more information.\n");
      return kExitTrouble;
    }
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    // --help and --version go to the standard output like any result: a failed write is trouble.
    std::ostringstream out, err;
    (void)app.exit(e, out, err);
    Out(out.str());
    return kExitOk;
  } catch (const CLI::CallForAllHelp& e) {
    std::ostringstream out, err;
    (void)app.exit(e, out, err);
    Out(out.str());
    return kExitOk;
  } catch (const CLI::CallForVersion& e) {
    std::ostringstream out, err;
    (void)app.exit(e, out, err);
    Out(out.str());
    return kExitOk;
  } catch (const CLI::ParseError& e) {
    tarn::process::WriteStderr("tarntool: " + UsageText(e) +
                               "\nTry 'tarntool --help' for more information.\n");
    return kExitTrouble;
  }

  if ((info->parsed() || verify->parsed()) && !StdioUsable(options)) return kExitTrouble;
  if (info->parsed()) return CheckFiles(options, nullptr, nullptr);
  if (verify->parsed()) {
    const bool has_key =
        !options.key.file.empty() || !options.key.env.empty() || options.key.fd >= 0;
    const bool signed_ = !options.signing.public_key.empty();
    if (!has_key && !signed_) {
      tarn::process::WriteStderr(
          "tarntool: verify needs a key (--key-file, --key-env, --key-fd), a public key "
          "(--public-key), or both\nTry 'tarntool --help' for more information.\n");
      return kExitTrouble;
    }
    if (!signed_ && (!options.signing.signature.empty() || options.signing.min_version != 0 ||
                     !options.signing.device.empty())) {
      tarn::process::WriteStderr(
          "tarntool: --signature, --min-version and --device need "
          "--public-key\n");
      return kExitTrouble;
    }
    if (signed_ && !options.signing.signature.empty() && options.files.size() != 1) {
      tarn::process::WriteStderr(
          "tarntool: --signature names one signature file: give one "
          "FILE with it\n");
      return kExitTrouble;
    }
    if (signed_ && options.signing.signature.empty() &&
        std::count_if(options.files.begin(), options.files.end(), IsStdio) > 0) {
      Message("-", "the standard input has no FILE.minisig beside it: give --signature");
      return kExitTrouble;
    }
    tarn_public_key signer{};
    if (signed_) {
      std::string error;
      if (!LoadPublicKey(options.signing.public_key, &signer, &error)) {
        tarn::process::WriteStderr("tarntool: " + error + "\n");
        return kExitTrouble;
      }
    }
    tarn::platform::Secret key = tarn::platform::Secret::Holding(tarn_key{});
    if (has_key && !LoadKeyOrSay(options.key, &key.As<tarn_key>())) return kExitTrouble;
    return CheckFiles(options, has_key ? &key.As<tarn_key>() : nullptr,
                      signed_ ? &signer : nullptr);
  }
  if (keygen->parsed()) {
    if (options.signing_keys) {
      if (!options.output.empty()) {
        tarn::process::WriteStderr(
            "tarntool: keygen --signing writes --public-key and "
            "--secret-key, not --output\n");
        return kExitTrouble;
      }
      return KeygenSigning(options.signing, options.quiet, Out);
    }
    if (options.output.empty()) {
      tarn::process::WriteStderr("tarntool: keygen needs --output (or --signing)\n");
      return kExitTrouble;
    }
    return Keygen(options);
  }
  if (sign->parsed()) return SignFiles(options.signing, options.files, options.quiet, Out);
  for (CLI::App* command : transforms) {
    if (command->parsed()) return Transform(command->get_name(), options);
  }
  return kExitTrouble;
}

}  // namespace
}  // namespace tarntool

int main(int argc, char** argv) {
  tarn::process::StartProcess(argc, argv, false);
  if (const std::string unknown = tarn::util::UnknownSimdNames(); !unknown.empty()) {
    tarn::process::WriteStderr("tarntool: TARN_DISABLE_SIMD: no such feature: " + unknown + "\n");
  }
  int status;
  try {
    status = tarntool::Run(argc, argv);
  } catch (const std::exception& e) {
    tarn::process::WriteStderr(std::string("tarntool: ") + e.what() + "\n");
    status = 2;
  }
  if (tarntool::g_stdout_error != 0) {
    tarn::process::WriteStderr("tarntool: cannot write the standard output: " +
                               tarn::platform::ErrorText(tarntool::g_stdout_error) + "\n");
    status = 2;
  }
  // What the option parser wrote (help, usage errors) goes out before the process ends.
  std::cout.flush();
  std::cerr.flush();
  tarn::process::ExitProcess(status);
}
