// The few operating-system services the common tools need.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace quorvin::platform {

// Full path of the running executable; empty when it cannot be read.
std::string ExecutablePath();

// The value of the environment variable name; empty when it is unset.
std::string EnvironmentValue(const char* name);

// True when this process may create and replace files in the folder at path.
bool IsWritableFolder(const std::string& path);

// Replaces this process with the program at path, given argv (ending
// with a null); returns only when that failed, with the reason.
std::string RunInstead(const std::string& path, char** argv);

// Fills buf with n random bytes; false when the system has none to give.
bool RandomBytes(std::uint8_t* buf, std::size_t n);

// Shell-style wildcard match of one file name ("*", "?", "[...]").
bool MatchesPattern(const std::string& pattern, const std::string& name);

// The whole file at path; false (bytes empty) when it cannot be opened or
// read. A file another process replaces at that moment is read whole, old
// or new (Windows: the read shares the file with the replacer and waits
// out a replacement in progress).
bool ReadWholeFile(const std::string& path, std::string& bytes);

// True when path names a regular file this process may read.
bool IsReadableFile(const std::string& path);

// A new, empty file of this process's own in the system's temporary folder,
// named prefix + something unique + suffix; its path, or empty (and *why
// set) when none could be made. The caller removes it (RemoveFile).
std::string MakeTempFile(const std::string& prefix, const std::string& suffix, std::string* why = nullptr);

// Removes the file at path; false when it is still there.
bool RemoveFile(const std::string& path);

// Replaces the file at path with exactly these bytes, all or nothing and
// durably (a ReplacingFile): a reader never sees a half-written file,
// concurrent writers never tear it, a power cut leaves the old file or the
// new one. An existing file that is not writable is left alone. False when
// nothing was written, with one line on stderr saying why.
bool WriteFileReplacing(const std::string& path, const void* data, std::size_t size);

}  // namespace quorvin::platform
