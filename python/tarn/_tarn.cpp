// The extension under the tarn package: the C interface of libtarn for Python, in the shape
// the package's Python layer turns into objects and exceptions. Calls on large data and on
// files let go of the interpreter's lock, so that threads run at once.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstring>
#include <exception>
#include <memory>
#include <optional>
#include <string>

#include "tarn/tarn.h"

namespace py = pybind11;

namespace {

// Below this a call is over before letting go of the lock would pay.
constexpr std::size_t kReleaseFrom = std::size_t{64} << 10;

// A key in memory the extension owns: never shown, wiped when it goes.
struct Key {
  tarn_key key{};
  Key() = default;
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  ~Key() {
    volatile std::uint8_t* p = reinterpret_cast<volatile std::uint8_t*>(&key);
    for (std::size_t i = 0; i < sizeof key; ++i) p[i] = 0;
  }
};

// A read-only view of any object with the buffer protocol, without a copy.
struct View {
  py::buffer_info info;
  explicit View(const py::buffer& b) : info(b.request()) {
    if (!PyBuffer_IsContiguous(info.view(), 'C'))
      throw py::value_error("the data must be contiguous");
  }
  const void* data() const { return info.ptr; }
  std::size_t size() const { return static_cast<std::size_t>(info.size * info.itemsize); }
};

// Bytes of a given size to fill, and to cut to what was written.
py::bytes NewBytes(std::size_t n, char** data) {
  PyObject* bytes = PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(n));
  if (bytes == nullptr) throw py::error_already_set();
  *data = PyBytes_AS_STRING(bytes);
  return py::reinterpret_steal<py::bytes>(bytes);
}

py::bytes Cut(py::bytes bytes, std::size_t n) {
  PyObject* raw = bytes.release().ptr();
  if (_PyBytes_Resize(&raw, static_cast<Py_ssize_t>(n)) != 0) throw py::error_already_set();
  return py::reinterpret_steal<py::bytes>(raw);
}

py::dict InfoDict(const tarn_info& info) {
  py::dict d;
  py::list words;
  for (std::uint32_t w : info.words) words.append(w);
  d["words"] = words;
  d["image_size"] = info.image_size;
  d["container_size"] = info.container_size;
  d["image_crc32"] = info.image_crc;
  d["payload_crc32"] = info.payload_crc;
  d["payload_checked"] = info.payload_checked != 0;
  d["payload_ok"] = info.payload_ok != 0;
  d["image_checked"] = info.image_checked != 0;
  d["image_ok"] = info.image_ok != 0;
  return d;
}

// The user's progress callback, called on the calling thread with the lock taken again; an
// exception it raises cancels the run and is raised again once the call returned.
struct Progress {
  py::object fn;
  std::exception_ptr failure;

  static int Report(void* self, std::uint64_t done, std::uint64_t total) {
    auto* p = static_cast<Progress*>(self);
    py::gil_scoped_acquire lock;
    try {
      p->fn(done, total);
      return 0;
    } catch (...) {
      p->failure = std::current_exception();
      return 1;
    }
  }
  tarn_progress_fn callback() const { return fn.is_none() ? nullptr : Report; }
  void RaiseIfFailed() const {
    if (failure) std::rethrow_exception(failure);
  }
};

template <typename Call>
int FileCall(py::object progress, Call call) {
  Progress p{std::move(progress), nullptr};
  tarn_status status;
  {
    py::gil_scoped_release unlocked;
    status = call(p.callback(), &p);
  }
  p.RaiseIfFailed();
  return status;
}

struct Encoder {
  tarn_encoder enc;
  ~Encoder() {
    std::uint8_t header[TARN_HEADER_SIZE], tail[8];
    std::size_t n;
    (void)tarn_encoder_finish(&enc, tail, &n, header);  // wipes the key of an unfinished object
  }
};

struct Decoder {
  tarn_decoder dec;
  bool keyed = false;
  ~Decoder() { (void)tarn_decoder_finish(&dec, nullptr); }
};

// A public key from the 40 bytes the package keeps (the key id, then the key).
tarn_public_key PublicKeyOf(const py::bytes& raw) {
  const std::string b = raw;
  if (b.size() != 40) throw py::value_error("a public key is 40 bytes");
  tarn_public_key key;
  std::memcpy(key.id, b.data(), 8);
  std::memcpy(key.key, b.data() + 8, 32);
  return key;
}

py::dict SignatureDict(const tarn_signature_info& info) {
  py::dict d;
  d["key_id"] = py::bytes(reinterpret_cast<const char*>(info.key_id), 8);
  d["prehashed"] = info.prehashed != 0;
  d["version"] = info.has_version ? py::object(py::int_(info.version)) : py::none();
  d["device"] = info.device[0] != '\0' ? py::object(py::str(info.device)) : py::none();
  d["reason"] = std::string(info.reason != nullptr ? info.reason : "");
  return d;
}

struct Verifier {
  tarn_verifier v{};
};

}  // namespace

PYBIND11_MODULE(_tarn, m) {
  m.doc() = "The C interface of libtarn; use the tarn package instead.";
  m.def("version", [] { return std::string(tarn_version()); });
  m.def("status_string", [](int status) {
    return std::string(tarn_status_string(static_cast<tarn_status>(status)));
  });
  m.def("status_name",
        [](int status) { return std::string(tarn_status_name(static_cast<tarn_status>(status))); });
  m.def("status_is_verdict",
        [](int status) { return tarn_status_is_verdict(static_cast<tarn_status>(status)) != 0; });
  // The cause of the last file call on this thread: (system error or 0, text).
  m.def("last_cause", [] {
    tarn_cause cause;
    tarn_last_cause(&cause);
    return py::make_tuple(cause.system_error, std::string(cause.text));
  });

  py::class_<Key>(m, "Key");
  // None for anything but 32 hexadecimal digits.
  m.def("key_from_hex", [](const py::buffer& text) -> std::unique_ptr<Key> {
    const View v(text);
    auto key = std::make_unique<Key>();
    if (tarn_key_from_hex(static_cast<const char*>(v.data()), v.size(), &key->key) != TARN_OK) {
      return nullptr;
    }
    return key;
  });

  // Whether two keys hold the same words, in time that does not depend on where they differ.
  m.def("key_equal", [](const Key& a, const Key& b) {
    std::uint32_t diff = 0;
    for (int i = 0; i < 4; ++i) diff |= a.key.words[i] ^ b.key.words[i];
    return diff == 0;
  });
  // None for anything a key file may not hold.
  m.def("key_from_text", [](const py::buffer& text) -> std::unique_ptr<Key> {
    const View v(text);
    auto key = std::make_unique<Key>();
    if (tarn_key_from_text(static_cast<const char*>(v.data()), v.size(), &key->key) != TARN_OK) {
      return nullptr;
    }
    return key;
  });

  m.def("encode", [](const py::buffer& image, const Key& key) {
    const View v(image);
    char* out = nullptr;
    py::bytes result = NewBytes(v.size() + TARN_HEADER_SIZE, &out);
    tarn_status s;
    {
      std::optional<py::gil_scoped_release> unlocked;
      if (v.size() >= kReleaseFrom) unlocked.emplace();
      s = tarn_encode_buffer(v.data(), v.size(), &key.key, out, v.size() + TARN_HEADER_SIZE);
    }
    return py::make_tuple(static_cast<int>(s), s == TARN_OK ? py::object(result) : py::none());
  });

  m.def("decode", [](const py::buffer& container, const Key& key) {
    const View v(container);
    const std::size_t room = v.size() > TARN_HEADER_SIZE ? v.size() - TARN_HEADER_SIZE : 0;
    char* out = nullptr;
    py::bytes result = NewBytes(room, &out);
    std::size_t n = 0;
    tarn_status s;
    {
      std::optional<py::gil_scoped_release> unlocked;
      if (v.size() >= kReleaseFrom) unlocked.emplace();
      s = tarn_decode_buffer(v.data(), v.size(), &key.key, out, room, &n);
    }
    return py::make_tuple(static_cast<int>(s),
                          s == TARN_OK ? py::object(Cut(std::move(result), n)) : py::none());
  });

  m.def("encode_file",
        [](const py::bytes& src, const py::bytes& dst, const Key& key, py::object progress) {
          const std::string a = src, b = dst;
          return FileCall(std::move(progress), [&](tarn_progress_fn fn, void* user) {
            return tarn_encode_file(a.c_str(), b.c_str(), &key.key, fn, user);
          });
        });
  m.def("decode_file",
        [](const py::bytes& src, const py::bytes& dst, const Key& key, py::object progress) {
          const std::string a = src, b = dst;
          return FileCall(std::move(progress), [&](tarn_progress_fn fn, void* user) {
            return tarn_decode_file(a.c_str(), b.c_str(), &key.key, fn, user);
          });
        });
  m.def("rekey_file", [](const py::bytes& src, const py::bytes& dst, const Key& old_key,
                         const Key& new_key, py::object progress) {
    const std::string a = src, b = dst;
    return FileCall(std::move(progress), [&](tarn_progress_fn fn, void* user) {
      return tarn_rekey_file(a.c_str(), b.c_str(), &old_key.key, &new_key.key, fn, user);
    });
  });
  m.def(
      "verify_file",
      [](const py::bytes& path, const Key* key, py::object progress) {
        const std::string a = path;
        tarn_info info{};
        const int s = FileCall(std::move(progress), [&](tarn_progress_fn fn, void* user) {
          return tarn_verify_file(a.c_str(), key != nullptr ? &key->key : nullptr, &info, fn, user);
        });
        return py::make_tuple(s, InfoDict(info));
      },
      py::arg("path"), py::arg("key").none(true), py::arg("progress"));

  py::class_<Encoder>(m, "Encoder")
      .def(py::init([](const Key& key) {
        auto e = std::make_unique<Encoder>();
        (void)tarn_encoder_init(&e->enc, &key.key);
        return e;
      }))
      .def("update",
           [](Encoder& e, const py::buffer& data) {
             const View v(data);
             char* out = nullptr;
             py::bytes result = NewBytes(v.size() + 7, &out);
             std::size_t n = 0;
             const tarn_status s = tarn_encoder_update(&e.enc, v.data(), v.size(), out, &n);
             return py::make_tuple(static_cast<int>(s), s == TARN_OK
                                                            ? py::object(Cut(std::move(result), n))
                                                            : py::none());
           })
      .def("finish", [](Encoder& e) {
        char tail[8];
        std::uint8_t header[TARN_HEADER_SIZE];
        std::size_t n = 0;
        const tarn_status s = tarn_encoder_finish(&e.enc, tail, &n, header);
        if (s != TARN_OK) return py::make_tuple(static_cast<int>(s), py::none(), py::none());
        return py::make_tuple(0, py::bytes(tail, n),
                              py::bytes(reinterpret_cast<const char*>(header), sizeof header));
      });

  py::class_<Decoder>(m, "Decoder")
      .def(py::init([](const Key* key) {
             auto d = std::make_unique<Decoder>();
             (void)tarn_decoder_init(&d->dec, key != nullptr ? &key->key : nullptr);
             d->keyed = key != nullptr;
             return d;
           }),
           py::arg("key").none(true))
      .def("update",
           [](Decoder& d, const py::buffer& data) {
             const View v(data);
             char* out = nullptr;
             py::bytes result = NewBytes(d.keyed ? v.size() + 7 : 0, &out);
             std::size_t n = 0;
             const tarn_status s =
                 tarn_decoder_update(&d.dec, v.data(), v.size(), d.keyed ? out : nullptr, &n);
             return py::make_tuple(static_cast<int>(s), s == TARN_OK
                                                            ? py::object(Cut(std::move(result), n))
                                                            : py::none());
           })
      .def("finish", [](Decoder& d) {
        tarn_info info{};
        const tarn_status s = tarn_decoder_finish(&d.dec, &info);
        return py::make_tuple(static_cast<int>(s), InfoDict(info));
      });

  // --- Signatures: (status, ...) tuples, as above.
  m.def("key_id_text", [](const py::bytes& id) {
    const std::string raw = id;
    if (raw.size() != 8) throw py::value_error("a key id is 8 bytes");
    char text[17];
    tarn_key_id_text(reinterpret_cast<const std::uint8_t*>(raw.data()), text);
    return std::string(text);
  });
  m.def("public_key_from_text", [](const py::buffer& text) -> py::object {
    const View v(text);
    tarn_public_key key;
    if (tarn_public_key_from_text(&key, static_cast<const char*>(v.data()), v.size()) != TARN_OK) {
      return py::none();
    }
    std::string raw(reinterpret_cast<const char*>(key.id), 8);
    raw.append(reinterpret_cast<const char*>(key.key), 32);
    return py::bytes(raw);
  });
  py::class_<Verifier>(m, "Verifier")
      .def(py::init<>())
      .def("init",
           [](Verifier& self, const py::bytes& key, const py::buffer& text,
              std::uint64_t min_version, std::optional<std::string> device) {
             const tarn_public_key pk = PublicKeyOf(key);
             const View v(text);
             const tarn_signature_policy policy{min_version, device ? device->c_str() : nullptr};
             tarn_signature_info info{};
             const tarn_status s = tarn_verifier_init(
                 &self.v, &pk, static_cast<const char*>(v.data()), v.size(), &policy, &info);
             return py::make_tuple(static_cast<int>(s), SignatureDict(info));
           })
      .def("update",
           [](Verifier& self, const py::buffer& data) {
             const View v(data);
             std::optional<py::gil_scoped_release> unlocked;
             if (v.size() >= kReleaseFrom) unlocked.emplace();
             return static_cast<int>(tarn_verifier_update(&self.v, v.data(), v.size()));
           })
      .def("finish",
           [](Verifier& self) {
             tarn_signature_info info{};
             const tarn_status s = tarn_verifier_finish(&self.v, &info);
             return py::make_tuple(static_cast<int>(s), SignatureDict(info));
           })
      .def("save",
           [](const Verifier& self) {
             std::uint8_t blob[TARN_VERIFIER_RESUME_SIZE];
             const tarn_status s = tarn_verifier_save(&self.v, blob);
             return py::make_tuple(static_cast<int>(s),
                                   py::bytes(reinterpret_cast<const char*>(blob), sizeof blob));
           })
      .def("resume", [](Verifier& self, const py::bytes& key, const py::bytes& blob) {
        const tarn_public_key pk = PublicKeyOf(key);
        const std::string b = blob;
        if (b.size() != TARN_VERIFIER_RESUME_SIZE) return static_cast<int>(TARN_INVALID_ARGUMENT);
        return static_cast<int>(
            tarn_verifier_resume(&self.v, &pk, reinterpret_cast<const std::uint8_t*>(b.data())));
      });
  m.def("verify_signature_file",
        [](const py::bytes& path, const py::bytes& key, const py::buffer& text,
           std::uint64_t min_version, std::optional<std::string> device) {
          const std::string p = path;
          const tarn_public_key pk = PublicKeyOf(key);
          const View v(text);
          const tarn_signature_policy policy{min_version, device ? device->c_str() : nullptr};
          tarn_signature_info info{};
          tarn_status s;
          {
            py::gil_scoped_release unlocked;
            s = tarn_verify_signature_file(p.c_str(), &pk, static_cast<const char*>(v.data()),
                                           v.size(), &policy, &info);
          }
          return py::make_tuple(static_cast<int>(s), SignatureDict(info));
        });
  m.def("can_sign", [] { return tarn_can_sign() != 0; });
  m.def("sign_keygen", [](std::optional<std::string> password) {
    char pub[TARN_PUBLIC_KEY_TEXT_MAX], sec[TARN_SECRET_KEY_TEXT_MAX];
    tarn_status s;
    {
      py::gil_scoped_release unlocked;
      s = tarn_sign_keygen(password ? password->data() : nullptr, password ? password->size() : 0,
                           pub, sec);
    }
    if (s != TARN_OK) return py::make_tuple(static_cast<int>(s), py::none(), py::none());
    py::tuple result = py::make_tuple(0, py::str(pub), py::str(sec));
    volatile char* p = sec;
    for (std::size_t i = 0; i < sizeof sec; ++i) p[i] = 0;
    return result;
  });
  m.def("sign_file", [](const py::bytes& path, const py::buffer& secret,
                        std::optional<std::string> password, std::optional<std::uint64_t> version,
                        std::optional<std::string> device, std::optional<std::string> comment) {
    const std::string p = path;
    const View v(secret);
    tarn_sign_options options{};
    options.has_version = version.has_value();
    options.version = version.value_or(0);
    options.device = device ? device->c_str() : nullptr;
    options.comment = comment ? comment->c_str() : nullptr;
    char text[TARN_SIGNATURE_TEXT_MAX];
    tarn_status s;
    {
      py::gil_scoped_release unlocked;
      s = tarn_sign_file(p.c_str(), static_cast<const char*>(v.data()), v.size(),
                         password ? password->data() : nullptr, password ? password->size() : 0,
                         &options, text);
    }
    return py::make_tuple(static_cast<int>(s),
                          s == TARN_OK ? py::object(py::str(text)) : py::none());
  });
}
