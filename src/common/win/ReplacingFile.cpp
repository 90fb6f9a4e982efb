// ReplacingFile over CreateFile, FlushFileBuffers and MoveFileEx. The
// temporary is a C runtime descriptor in the header; the handle behind it is
// the one CreateFile opened, shared with no one.
#include "common/ReplacingFile.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <atomic>
#include <string>

#include "common/win/SystemError.h"

namespace quorvin::platform {
namespace {

HANDLE HandleOf(int fd) { return reinterpret_cast<HANDLE>(_get_osfhandle(fd)); }

}  // namespace

ReplacingFile::ReplacingFile(std::string path) : m_strPath(std::move(path)) {
    const DWORD attributes = GetFileAttributesA(m_strPath.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) {
            m_error = "replace " + m_strPath + ": not a regular file";
            return;
        }
        if (attributes & FILE_ATTRIBUTE_READONLY) {
            Fail("replace", ERROR_ACCESS_DENIED);
            return;
        }
    }
    static std::atomic<unsigned> counter{0};
    m_strTemp = m_strPath + "." + std::to_string(GetCurrentProcessId()) + "." + std::to_string(counter++) + ".tmp";
    const HANDLE file =
        CreateFileA(m_strTemp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        Fail("create", static_cast<int>(GetLastError()));
        m_strTemp.clear();  // not ours: never delete it
        return;
    }
    m_fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_WRONLY | _O_BINARY);
    if (m_fd < 0) {
        CloseHandle(file);
        Fail("create", ERROR_TOO_MANY_OPEN_FILES);
    }
}

ReplacingFile::~ReplacingFile() {
    if (m_fd >= 0) _close(m_fd);
    if (!m_bCommitted && !m_strTemp.empty()) DeleteFileA(m_strTemp.c_str());
}

bool ReplacingFile::Fail(const char* step, int err) {
    if (m_error.empty())
        m_error = std::string(step) + " " + m_strPath + ": " + SystemErrorText(static_cast<DWORD>(err));
    return false;
}

bool ReplacingFile::Write(const void* data, std::size_t size) {
    if (!Ok() || m_fd < 0) return false;
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!WriteFile(HandleOf(m_fd), p, chunk, &written, nullptr))
            return Fail("write", static_cast<int>(GetLastError()));
        p += written;
        size -= written;
        m_nSize += written;
    }
    return true;
}

bool ReplacingFile::Commit() {
    if (!Ok() || m_fd < 0 || m_bCommitted) return false;
    // The bytes reach the disk before the name does.
    if (!FlushFileBuffers(HandleOf(m_fd))) return Fail("flush", static_cast<int>(GetLastError()));
    const int rc = _close(m_fd);
    m_fd = -1;
    if (rc != 0) return Fail("close", ERROR_WRITE_FAULT);
    // The target may be open for a moment in another process that did not
    // share deletion (a reader, a virus scanner): try again a few times.
    DWORD err = ERROR_SUCCESS;
    for (int attempt = 0; attempt < 10; ++attempt) {
        if (MoveFileExA(m_strTemp.c_str(), m_strPath.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            m_bCommitted = true;
            return true;
        }
        err = GetLastError();
        if (err != ERROR_ACCESS_DENIED && err != ERROR_SHARING_VIOLATION) break;
        Sleep(5 * (static_cast<DWORD>(attempt) + 1));
    }
    return Fail("rename", static_cast<int>(err));
}

}  // namespace quorvin::platform
