// The programs' half of the seam to the operating system: the process, its command line, the
// console, the user's locale, key sources and new files of their own. The library never
// touches any of it; see lib/platform/platform.h for the library's half.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/platform.h"
#include "platform/secret.h"

namespace tarn::process {

// The library's seam, which this one builds on.
using platform::FileHandle;
using platform::Secret;
using platform::Status;

// --- Process -------------------------------------------------------------------------------

// Prepares the process once, as the first thing it does, before anything else runs: keeps
// other processes of the same user and core files away from its memory (which is to hold the
// key); takes its own copy of the arguments and, when `key_is_last_argument`, overwrites the
// last one in the memory that process listings read; occupies a closed standard descriptor (0, 1,
// 2) with a placeholder, so that no file the tool opens takes its number; takes the user's locale
// for character classes and currency; makes a broken pipe or an exceeded file-size limit a
// failed write rather than a fatal signal; and has every catchable terminating signal that was
// not ignored at start remove the unfinished outputs before the process dies of it.
void StartProcess(int argc, char** argv, bool key_is_last_argument);

// While on, a terminating signal first clears the line the cursor is on, on the standard error
// (a progress line), before the process dies of it.
void ClearLineOnSignal(bool on);

// True when every argument reaches the raw command line as the word it was. False on POSIX
// when an argument holds a space, which the line could not tell from two words.
bool ArgumentsSurviveCommandLine();

// The whole command line as one text, program name first. On Windows it is the text the
// system hands the process, quoting included; on POSIX it is the program's file name without
// its directory followed by each argument behind one space, with no quoting added.
std::string RawCommandLine();

// True where the mode switch may be searched for in the whole raw command line. False where
// '/' separates directories, so that paths would be taken for switches: there the search
// stops in front of the last three words (input, output, key).
bool SwitchSearchCoversWholeLine();

// Overwrites every occurrence of `secret` in the process's own copy of its command line, the
// memory that process listings read, and in the copy of the arguments RawCommandLine reads,
// with 'x' characters.
void HideFromProcessListing(const std::string& secret);

[[noreturn]] void ExitProcess(int status);

// --- Console -------------------------------------------------------------------------------

// True when the standard output is an interactive terminal rather than a file or a pipe.
bool StdoutIsInteractive();

// True when the standard error stream is an interactive terminal.
bool StderrIsInteractive();

// True when the standard input is an interactive terminal.
bool StdinIsInteractive();

// True when an open descriptor of the process is an interactive terminal.
bool DescriptorIsTerminal(int fd);

// Reads up to n bytes from the standard input, waiting for at least one: the count, 0 at its
// end, or -1 on failure (with its cause, see platform.h).
std::int64_t ReadStdin(void* buffer, std::size_t n);

// The standard input and output as the library's streams take them; kNoFile for one that was
// closed when the process started.
FileHandle StandardInput();
FileHandle StandardOutput();

// Reads what an open descriptor of the process (a pipe, a file) holds into `text`, straight
// into its own memory, as much as it has room for; false when it cannot be read or holds more.
// From a pipe or a terminal the text ends at the first line ending, so that a writer that
// keeps its end open is not waited for.
bool ReadDescriptor(int fd, Secret* text);

// True when both names exist and denote the same file (through links too).
bool SameExistingFile(const std::string& a, const std::string& b);
// True when the open descriptor `fd` is the existing file `name` (also through links).
bool DescriptorIsFile(int fd, const std::string& name);

// What ReadSmallFile found.
struct SmallFile {
  bool ok = false;
  bool too_large = false;        // more than there is room for
  bool others_may_read = false;  // POSIX: the group or others may read it
  bool fifo = false;             // a FIFO (POSIX): refused, a reader would wait for a writer
  int error = 0;                 // the system's error code when not ok (EISDIR for a directory)
};

// Reads a small file (a key file) whole into `text`, as ReadDescriptor does, refusing a
// directory; from a FIFO the text ends at the first line ending.
SmallFile ReadSmallFile(const std::string& name, Secret* text);

// True when the name denotes something that exists and is not a directory. The name is taken
// literally: wildcard characters match only themselves.
bool FileExists(const std::string& name);

// Who may read a file the programs create: this user alone (a key) or anyone the user's umask
// admits (a public key, meant to be handed out).
enum class Readers { kOwner, kEveryone };

// Creates a new file `name` holding the n bytes, synced to stable storage: on POSIX readable
// and writable by this user alone (0600) or, for kEveryone, also readable by others (0644 less
// the umask); on Windows with the access its directory passes on, and open to no other process
// while it is written. False, with nothing created, when the name exists or the file cannot be
// made whole.
Status CreateNewFile(const std::string& name, const void* data, std::size_t n, Readers readers);

// Fills n bytes from the system's source of random numbers; false when it has none.
bool RandomBytes(void* bytes, std::size_t n);

// Writes all n bytes to the standard output. Returns 0, or the system's error code.
int WriteStdout(const char* data, std::size_t n);

// Writes text to the standard error stream, ignoring failures (it is the last resort).
void WriteStderr(const std::string& text);

// Converts text from the system's ANSI code page to the console's OEM code page where the
// platform has the two; elsewhere returns it unchanged.
std::string ToConsoleCodePage(const std::string& text);

// --- Locale --------------------------------------------------------------------------------

// Character-type bits reported by LocaleCharType.
inline constexpr std::uint16_t kCharUpper = 0x0001;
inline constexpr std::uint16_t kCharLower = 0x0002;
inline constexpr std::uint16_t kCharPunct = 0x0010;

// Maps each of the n bytes in place to its upper-case (or lower-case) form under the user's
// locale.
void UpperCaseBuffer(unsigned char* bytes, std::size_t n);
void LowerCaseBuffer(unsigned char* bytes, std::size_t n);

// The kChar* bits of one single-byte character under the user's locale.
std::uint16_t LocaleCharType(unsigned char c);

// The user's currency symbol.
std::string CurrencySymbol();

// --- Module --------------------------------------------------------------------------------

// The running executable's file name without its directory.
std::string ModuleFileName();

// Offset of a code address from the load address of the module that holds it.
std::uint32_t CodeOffset(const void* address);

}  // namespace tarn::process
