#include "common/ReplacingFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <system_error>

namespace quorvin::platform {
namespace {

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string Reason(int err) { return std::error_code(err, std::generic_category()).message(); }

}  // namespace

ReplacingFile::ReplacingFile(std::string path) : m_strPath(std::move(path)) {
    struct stat st {};
    if (stat(m_strPath.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode)) {
            m_error = "replace " + m_strPath + ": not a regular file";
            return;
        }
        if (access(m_strPath.c_str(), W_OK) != 0) {
            Fail("replace", errno);
            return;
        }
    }
    static std::atomic<unsigned> counter{0};
    char suffix[64];
    std::snprintf(suffix, sizeof suffix, ".%d.%u.tmp", static_cast<int>(getpid()), counter++);
    m_strTemp = m_strPath + suffix;
    m_fd = open(m_strTemp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (m_fd < 0) Fail("create", errno);
}

ReplacingFile::~ReplacingFile() {
    if (m_fd >= 0) close(m_fd);
    if (!m_bCommitted && !m_strTemp.empty()) unlink(m_strTemp.c_str());
}

bool ReplacingFile::Fail(const char* step, int err) {
    if (m_error.empty()) m_error = std::string(step) + " " + m_strPath + ": " + Reason(err);
    return false;
}

bool ReplacingFile::Write(const void* data, std::size_t size) {
    if (!Ok() || m_fd < 0) return false;
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t w = write(m_fd, p, size);
        if (w < 0) {
            if (errno == EINTR) continue;
            return Fail("write", errno);
        }
        p += w;
        size -= static_cast<std::size_t>(w);
        m_nSize += static_cast<std::uint64_t>(w);
    }
    return true;
}

bool ReplacingFile::Commit() {
    if (!Ok() || m_fd < 0 || m_bCommitted) return false;
    // The bytes reach the disk before the name does: a rename that outlived
    // a power cut must not point at blocks that did not.
    if (fsync(m_fd) != 0) return Fail("flush", errno);
    const int rc = close(m_fd);
    m_fd = -1;
    if (rc != 0) return Fail("close", errno);
    if (rename(m_strTemp.c_str(), m_strPath.c_str()) != 0) return Fail("rename", errno);
    m_bCommitted = true;
    // The rename itself lives in the folder. Once renamed the new file is in
    // place whatever this says, so a folder that cannot be flushed (some
    // file systems refuse) does not undo the replacement.
    const int dir = open(FolderOf(m_strPath).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
    return true;
}

}  // namespace quorvin::platform
