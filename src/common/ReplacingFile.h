// A file replaced whole or not at all, and durably. The new bytes go to a
// temporary file beside the target; Commit flushes them to the disk,
// renames the temporary over the target and flushes the folder, so a reader
// never sees half a file, concurrent writers never tear one, and a power cut
// at any moment leaves the old file or the new one, never an empty one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace quorvin::platform {

class ReplacingFile {
public:
    // Opens the temporary beside path. An existing path that is not a
    // writable regular file is left alone (the file then fails at once).
    explicit ReplacingFile(std::string path);
    // Without a Commit the temporary goes and path is untouched.
    ~ReplacingFile();
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;

    // False once anything failed; Error then says what and why.
    bool Ok() const { return m_error.empty(); }
    bool Write(const void* data, std::size_t size);
    std::uint64_t Size() const { return m_nSize; }
    // Puts the bytes written so far in place of path; false (path untouched)
    // when anything failed before or now.
    bool Commit();
    // "write /dir/a.jpg: No space left on device"; empty while all is well.
    const std::string& Error() const { return m_error; }

private:
    bool Fail(const char* step, int err);

    std::string m_strPath;
    std::string m_strTemp;
    int m_fd = -1;
    std::uint64_t m_nSize = 0;
    bool m_bCommitted = false;
    std::string m_error;
};

}  // namespace quorvin::platform
