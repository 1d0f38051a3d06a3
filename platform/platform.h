// The one seam between tarn and the operating system. Everything the tool needs from the
// platform is declared here; platform_posix.cpp and platform_win32.cpp implement it. No other
// file of the project includes an operating-system header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tarn::platform {

// An open operating-system file. Negative values mean "no file".
using FileHandle = std::intptr_t;
inline constexpr FileHandle kNoFile = -1;

// --- Process -------------------------------------------------------------------------------

// Prepares the process once, before anything else runs: remembers argv, takes the user's
// locale for character classes and currency, and makes a broken pipe an I/O error rather
// than a fatal signal.
void StartProcess(int argc, char** argv);

// The whole command line as one text, program name first. On Windows it is the text the
// system hands the process, quoting included; on POSIX it is the program's file name without
// its directory followed by each argument behind one space, with no quoting added.
std::string RawCommandLine();

// True where the mode switch may be searched for in the whole raw command line. False where
// '/' separates directories, so that paths would be taken for switches: there the search
// stops in front of the last three words (input, output, key).
bool SwitchSearchCoversWholeLine();

// Overwrites every occurrence of `secret` in the process's own copy of its command line, the
// memory that process listings read, with 'x' characters.
void HideFromProcessListing(const std::string& secret);

// Overwrites n bytes with zeros in a way the compiler may not drop, for secrets in memory
// that is about to be freed.
void WipeMemory(void* bytes, std::size_t n);

[[noreturn]] void ExitProcess(int status);

// --- Console -------------------------------------------------------------------------------

// True when the standard output is an interactive terminal rather than a file or a pipe.
bool StdoutIsInteractive();

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

// --- Files ---------------------------------------------------------------------------------

// True when the name denotes something that exists and is not a directory. The name is taken
// literally: wildcard characters match only themselves.
bool FileExists(const std::string& name);

// Opens an existing regular file for reading, held exclusively against other processes.
// Returns kNoFile when it cannot be opened or another process holds it.
FileHandle OpenInputExclusive(const std::string& name);

// An output file under construction: written under a temporary name beside its final place
// and moved there only when the run succeeds.
struct OutputFile {
  FileHandle handle = kNoFile;
  std::string temp_name;   // the file being written
  std::string final_name;  // where it goes on success (a symbolic link's target)
};

// Creates the output for `name`, readable and writable. Fails when the name denotes the input
// file (also through links), a directory or another non-regular file, or when no file can be
// created in its directory.
bool CreateOutput(const std::string& name, FileHandle input, OutputFile* out);

// Closes the output and moves it onto its final name, replacing an existing file. On failure
// the temporary file is removed.
bool CommitOutput(OutputFile* out);

// Closes the output, if open, and removes the temporary file. Safe to call more than once.
void DiscardOutput(OutputFile* out);

// Reads up to n bytes from `offset`, stopping early only at the end of the file: the count
// read, or -1 on failure. Safe to call from several threads at once.
std::int64_t ReadAt(FileHandle file, void* buffer, std::size_t n, std::uint64_t offset);

// Writes all n bytes at `offset`; false on failure (a short write included). Safe to call
// from several threads at once for separate stretches of the file.
bool WriteAt(FileHandle file, const void* buffer, std::size_t n, std::uint64_t offset);

// The size of an open file in bytes, or -1 on failure.
std::int64_t FileSize(FileHandle file);

// Tells the system that the file will be read front to back once.
void AdviseSequential(FileHandle file);

void Close(FileHandle file);

}  // namespace tarn::platform
