// What the two halves of the seam share for streams of bytes: the loops that read and write
// in pieces, the way every system has (the POSIX half tries the system's faster ways first).
// Included only by platform_posix.cpp and platform_win32.cpp.
#pragma once

#include <cstdint>
#include <memory>
#include <new>

#include "platform/platform.h"

namespace tarn::platform {

inline constexpr std::size_t kStreamPiece = std::size_t{256} << 10;

// A piece's buffer, or null with the cause said.
inline std::unique_ptr<unsigned char[]> NewPiece() {
  std::unique_ptr<unsigned char[]> piece(new (std::nothrow) unsigned char[kStreamPiece]);
  if (!piece) SetCause({0, "no memory for a piece of the stream"});
  return piece;
}

// How much of `left` bytes one piece takes.
inline std::size_t PieceOf(std::uint64_t left) {
  return static_cast<std::size_t>(left < kStreamPiece ? left : kStreamPiece);
}

// SpoolStream by reads and writes, from offset *size (already spooled) on.
inline Status SpoolByReads(FileHandle stream, FileHandle file, std::uint64_t limit,
                           std::uint64_t* size) {
  const std::unique_ptr<unsigned char[]> piece = NewPiece();
  if (!piece) return false;
  while (*size < limit) {
    const std::size_t want = PieceOf(limit - *size);
    const std::int64_t got = ReadSome(stream, piece.get(), want);
    if (got < 0) return false;
    if (got == 0) return true;
    if (!WriteAt(file, piece.get(), static_cast<std::size_t>(got), *size)) return false;
    *size += static_cast<std::uint64_t>(got);
  }
  return true;
}

// The n bytes of `file` from `from` on, to `stream` by reads and writes.
inline Status CopyByReads(FileHandle file, std::uint64_t from, std::uint64_t n, FileHandle stream) {
  const std::unique_ptr<unsigned char[]> piece = NewPiece();
  if (!piece) return false;
  for (std::uint64_t done = 0; done < n;) {
    const std::size_t want = PieceOf(n - done);
    if (ReadAt(file, piece.get(), want, from + done) != static_cast<std::int64_t>(want)) {
      return false;
    }
    if (!WriteAll(stream, piece.get(), want)) return false;
    done += want;
  }
  return true;
}

}  // namespace tarn::platform
