// Whether a TLS server's certificate is to be trusted: its chain built and
// checked by CryptoAPI against the system's roots, or only against the CA
// certificates of a PEM file, and its names matched against the host.
#pragma once

// clang-format off
#include <windows.h>
#include <wincrypt.h>
// clang-format on

#include <string>

namespace quorvin::wsclient {

class ServerTrust {
public:
    ServerTrust() = default;
    ~ServerTrust();
    ServerTrust(const ServerTrust&) = delete;
    ServerTrust& operator=(const ServerTrust&) = delete;

    // Trusts the certificates of the PEM file at path instead of the
    // system's roots; false with the reason in why when it holds none.
    bool LoadCaFile(const std::string& path, std::string& why);

    // Empty when certificate (with the intermediates the server sent in its
    // store) chains up to a trusted root and names host; otherwise why not.
    std::string Check(const CERT_CONTEXT* certificate, const std::string& host) const;

private:
    HCERTSTORE m_roots = nullptr;  // null: the system's
};

}  // namespace quorvin::wsclient
