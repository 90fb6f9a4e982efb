// Owns every CryptoAPI call of the WebSocket client. A CA file's roots are
// kept in a memory store offered to the chain builder; a chain built that
// way ends in a root the system does not know, so it passes only when that
// root is one of the file's, and the SSL policy then checks everything else
// (validity, usage, the host name) with just the unknown-root error waived.
#include "link/wsclient/win/ServerTrust.h"

#include <array>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <vector>

#include "common/win/SystemError.h"

namespace quorvin::wsclient {

namespace {

struct StoreCloser {
    void operator()(void* store) const { CertCloseStore(store, 0); }
};
using StorePtr = std::unique_ptr<void, StoreCloser>;

struct ChainFreer {
    void operator()(const CERT_CHAIN_CONTEXT* chain) const { CertFreeCertificateChain(chain); }
};

std::wstring Wide(const std::string& text) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
    return wide;
}

// The chain errors that are no fault of the certificates: revocation is
// not asked for, so its status may be unknown.
// wininet.h's SECURITY_FLAG_IGNORE_UNKNOWN_CA and _CERT_CN_INVALID, without
// the rest of WinINet.
constexpr DWORD kIgnoreUnknownCa = 0x00000100;
constexpr DWORD kIgnoreName = 0x00001000;

// The four bytes of a dotted IPv4 address, or nothing for a name.
std::optional<std::array<BYTE, 4>> Ipv4(const std::string& host) {
    std::array<BYTE, 4> bytes{};
    std::size_t at = 0;
    for (std::size_t part = 0; part < 4; ++part) {
        if (part > 0 && (at >= host.size() || host[at++] != '.')) return std::nullopt;
        unsigned value = 0;
        std::size_t digits = 0;
        for (; at < host.size() && host[at] >= '0' && host[at] <= '9' && digits < 4; ++at, ++digits)
            value = value * 10 + static_cast<unsigned>(host[at] - '0');
        if (digits == 0 || digits > 3 || value > 255) return std::nullopt;
        bytes[part] = static_cast<BYTE>(value);
    }
    if (at != host.size()) return std::nullopt;
    return bytes;
}

// Whether the certificate's alternative names hold this address. The SSL
// policy matches names only, so addresses are matched here.
bool NamesAddress(const CERT_CONTEXT* certificate, const std::array<BYTE, 4>& address) {
    const CERT_INFO* info = certificate->pCertInfo;
    const CERT_EXTENSION* ext = CertFindExtension(szOID_SUBJECT_ALT_NAME2, info->cExtension, info->rgExtension);
    if (ext == nullptr) return false;
    CERT_ALT_NAME_INFO* names = nullptr;
    DWORD size = 0;
    if (!CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ALTERNATE_NAME, ext->Value.pbData, ext->Value.cbData,
                             CRYPT_DECODE_ALLOC_FLAG, nullptr, &names, &size))
        return false;
    bool found = false;
    for (DWORD i = 0; i < names->cAltEntry && !found; ++i) {
        const CERT_ALT_NAME_ENTRY& entry = names->rgAltEntry[i];
        found = entry.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS && entry.IPAddress.cbData == address.size() &&
                std::memcmp(entry.IPAddress.pbData, address.data(), address.size()) == 0;
    }
    LocalFree(names);
    return found;
}

constexpr DWORD kIgnorable = CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION;

}  // namespace

ServerTrust::~ServerTrust() {
    if (m_roots != nullptr) CertCloseStore(m_roots, 0);
}

bool ServerTrust::LoadCaFile(const std::string& path, std::string& why) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        why = "cannot be read";
        return false;
    }
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    StorePtr store(CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr));
    if (!store) {
        why = platform::SystemErrorText(GetLastError());
        return false;
    }
    static const std::string kBegin = "-----BEGIN CERTIFICATE-----";
    static const std::string kEnd = "-----END CERTIFICATE-----";
    int added = 0;
    for (std::size_t at = text.find(kBegin); at != std::string::npos; at = text.find(kBegin, at)) {
        const std::size_t end = text.find(kEnd, at);
        if (end == std::string::npos) break;
        const std::string block = text.substr(at, end + kEnd.size() - at);
        at = end + kEnd.size();
        DWORD size = 0;
        if (!CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()), CRYPT_STRING_BASE64HEADER, nullptr,
                                  &size, nullptr, nullptr))
            continue;
        std::vector<BYTE> der(size);
        if (CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()), CRYPT_STRING_BASE64HEADER, der.data(),
                                 &size, nullptr, nullptr) &&
            CertAddEncodedCertificateToStore(store.get(), X509_ASN_ENCODING, der.data(), size,
                                             CERT_STORE_ADD_REPLACE_EXISTING, nullptr))
            ++added;
    }
    if (added == 0) {
        why = "no certificate in it";
        return false;
    }
    if (m_roots != nullptr) CertCloseStore(m_roots, 0);
    m_roots = store.release();
    return true;
}

std::string ServerTrust::Check(const CERT_CONTEXT* certificate, const std::string& host) const {
    // The server's own store holds the intermediates it sent; with a CA
    // file, the file's roots join them.
    HCERTSTORE extra = certificate->hCertStore;
    StorePtr collection;
    if (m_roots != nullptr) {
        collection.reset(CertOpenStore(CERT_STORE_PROV_COLLECTION, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr));
        if (!collection || !CertAddStoreToCollection(collection.get(), certificate->hCertStore, 0, 0) ||
            !CertAddStoreToCollection(collection.get(), m_roots, 0, 0))
            return platform::SystemErrorText(GetLastError());
        extra = collection.get();
    }
    LPSTR usage[] = {const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH)};
    CERT_CHAIN_PARA para{};
    para.cbSize = sizeof para;
    para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    para.RequestedUsage.Usage.cUsageIdentifier = 1;
    para.RequestedUsage.Usage.rgpszUsageIdentifier = usage;
    const CERT_CHAIN_CONTEXT* raw = nullptr;
    if (!CertGetCertificateChain(nullptr, certificate, nullptr, extra, &para, 0, nullptr, &raw))
        return platform::SystemErrorText(GetLastError());
    const std::unique_ptr<const CERT_CHAIN_CONTEXT, ChainFreer> chain(raw);

    DWORD waived = 0;
    if (m_roots != nullptr) {
        if (chain->cChain == 0 || chain->rgpChain[0]->cElement == 0) return "no certificate chain";
        const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[0];
        const CERT_CONTEXT* root = simple->rgpElement[simple->cElement - 1]->pCertContext;
        const CERT_CONTEXT* known =
            CertFindCertificateInStore(m_roots, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, root, nullptr);
        if (known == nullptr) return "the certificate was not issued by the CA file's authority";
        CertFreeCertificateContext(known);
        if ((chain->TrustStatus.dwErrorStatus & ~(CERT_TRUST_IS_UNTRUSTED_ROOT | kIgnorable)) != 0)
            return "the certificate chain is not valid";
        waived = kIgnoreUnknownCa;
    }

    // An address is matched here; a name by the policy.
    const std::optional<std::array<BYTE, 4>> address = Ipv4(host);
    if (address) {
        if (!NamesAddress(certificate, *address)) return "the certificate is not for this address";
        waived |= kIgnoreName;
    }
    std::wstring name = Wide(host);
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
    ssl.cbSize = sizeof ssl;
    ssl.dwAuthType = AUTHTYPE_SERVER;
    ssl.fdwChecks = waived;
    ssl.pwszServerName = name.data();
    CERT_CHAIN_POLICY_PARA policy{};
    policy.cbSize = sizeof policy;
    policy.pvExtraPolicyPara = &ssl;
    CERT_CHAIN_POLICY_STATUS status{};
    status.cbSize = sizeof status;
    if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain.get(), &policy, &status))
        return platform::SystemErrorText(GetLastError());
    if (status.dwError != 0) return platform::SystemErrorText(status.dwError);
    return {};
}

}  // namespace quorvin::wsclient
