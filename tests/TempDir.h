// A fresh directory for one test, removed with everything in it afterwards.
#pragma once

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

namespace quorvin::testing {

class TempDir {
public:
    // Made like mkdtemp (a random name, created only when new), which
    // Windows lacks.
    TempDir() {
        std::error_code ec;
        const std::filesystem::path base = std::filesystem::temp_directory_path(ec);
        std::random_device random;
        for (int attempt = 0; attempt < 100 && !ec && m_path.empty(); ++attempt) {
            char name[32];
            std::snprintf(name, sizeof name, "quorvin-test-%08x", static_cast<unsigned>(random()));
            const std::filesystem::path dir = base / name;
            if (std::filesystem::create_directory(dir, ec)) m_path = dir.generic_string();
        }
    }
    ~TempDir() {
        std::error_code ec;
        if (!m_path.empty()) std::filesystem::remove_all(m_path, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

inline std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace quorvin::testing
