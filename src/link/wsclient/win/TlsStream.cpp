// Owns every SSPI call of the WebSocket client: TLS 1.2 through Schannel
// over the TCP stream, so the socket calls stay in one file. Schannel is
// told to leave the server's certificate alone; ServerTrust checks it
// against the system's roots (or the CA file named by QUORVIN_CA_FILE) and
// the host name (or address) the URL named, before any data moves.
#define SECURITY_WIN32
// clang-format off
#include <windows.h>
#include <schannel.h>
#include <security.h>
#include <sspi.h>
// clang-format on

#include <cstdlib>
#include <cstring>
#include <vector>

#include "common/win/SystemError.h"
#include "link/wsclient/Handshake.h"
#include "link/wsclient/Stream.h"
#include "link/wsclient/win/ServerTrust.h"

namespace quorvin::wsclient {

namespace {

constexpr DWORD kContextFlags = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                                ISC_REQ_EXTENDED_ERROR | ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM |
                                ISC_REQ_MANUAL_CRED_VALIDATION;

// Input beyond this without a whole record in it is not TLS.
constexpr std::size_t kMaxRecord = 5 + 16384 + 2048;

std::wstring Wide(const std::string& text) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
    return wide;
}

std::string StatusText(SECURITY_STATUS status) { return platform::SystemErrorText(static_cast<unsigned long>(status)); }

// A token Schannel allocated, freed with its owner.
struct Token {
    SecBuffer buffer{0, SECBUFFER_TOKEN, nullptr};
    ~Token() {
        if (buffer.pvBuffer != nullptr) FreeContextBuffer(buffer.pvBuffer);
    }
};

class TlsStream final : public Stream {
public:
    explicit TlsStream(std::unique_ptr<Stream> inner) : m_inner(std::move(inner)) {}
    ~TlsStream() override {
        if (m_haveContext) DeleteSecurityContext(&m_context);
        if (m_haveCredentials) FreeCredentialsHandle(&m_credentials);
    }
    TlsStream(const TlsStream&) = delete;
    TlsStream& operator=(const TlsStream&) = delete;

    bool Setup(std::string& why);
    // Runs the handshake and the certificate check until deadline; false
    // with the stderr line in error.
    bool Handshake(const std::string& host, const ServerTrust& trust, Clock::time_point deadline, std::string& error);

    Io Read(std::uint8_t* buf, std::size_t size, std::size_t& n) override;
    Io Write(const std::uint8_t* data, std::size_t size, std::size_t& n) override;

    void Wait(bool read, bool write, int timeoutMs) override {
        if (read && (m_plainAt < m_plain.size() || m_peerClosed || (!m_in.empty() && !m_inShort))) return;
        m_inner->Wait(read, write, timeoutMs);
    }

    void Interrupt() override { m_inner->Interrupt(); }

    void Close() override {
        if (m_open) SendCloseNotify();
        m_open = false;
        m_inner->Close();
    }

private:
    // Sends all of data within deadline; the inner stream's last answer
    // tells a closed connection from a failed one.
    bool SendAll(const void* data, std::size_t size, Clock::time_point deadline);
    // Appends what the inner stream has to m_in, waiting until deadline.
    bool ReceiveMore(Clock::time_point deadline);
    // Decrypts one record from m_in into m_plain.
    Io DecryptRecord();
    // Sends as much of m_out as the inner stream takes now.
    Io Flush();
    void SendCloseNotify();

    std::unique_ptr<Stream> m_inner;
    CredHandle m_credentials{};
    CtxtHandle m_context{};
    bool m_haveCredentials = false;
    bool m_haveContext = false;
    bool m_open = false;
    bool m_peerClosed = false;
    SecPkgContext_StreamSizes m_sizes{};
    std::vector<std::uint8_t> m_in;  // received, not yet decrypted
    bool m_inShort = true;           // m_in holds no whole record
    std::vector<std::uint8_t> m_plain;
    std::size_t m_plainAt = 0;
    std::vector<std::uint8_t> m_out;  // one encrypted record on its way
    std::size_t m_outAt = 0;
    std::size_t m_outPlain = 0;  // the bytes of the caller's it carries
    Io m_lastIo = Io::Ok;
};

bool TlsStream::Setup(std::string& why) {
    SCHANNEL_CRED cred{};
    cred.dwVersion = SCHANNEL_CRED_VERSION;
    cred.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
    cred.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS | SCH_USE_STRONG_CRYPTO;
    wchar_t package[] = UNISP_NAME_W;
    const SECURITY_STATUS status = AcquireCredentialsHandleW(nullptr, package, SECPKG_CRED_OUTBOUND, nullptr, &cred,
                                                             nullptr, nullptr, &m_credentials, nullptr);
    if (status != SEC_E_OK) {
        why = StatusText(status);
        return false;
    }
    m_haveCredentials = true;
    return true;
}

bool TlsStream::SendAll(const void* data, std::size_t size, Clock::time_point deadline) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    while (size > 0) {
        std::size_t n = 0;
        m_lastIo = m_inner->Write(p, size, n);
        if (m_lastIo == Io::Ok) {
            p += n;
            size -= n;
            continue;
        }
        const int left = RemainingMs(deadline);
        if (m_lastIo != Io::WouldBlock || left == 0) return false;
        m_inner->Wait(false, true, left);
    }
    return true;
}

bool TlsStream::ReceiveMore(Clock::time_point deadline) {
    std::uint8_t chunk[16384];
    for (;;) {
        std::size_t n = 0;
        m_lastIo = m_inner->Read(chunk, sizeof chunk, n);
        if (m_lastIo == Io::Ok) {
            m_in.insert(m_in.end(), chunk, chunk + n);
            return m_in.size() <= kMaxRecord * 2;
        }
        const int left = RemainingMs(deadline);
        if (m_lastIo != Io::WouldBlock || left == 0) return false;
        m_inner->Wait(true, false, left);
    }
}

bool TlsStream::Handshake(const std::string& host, const ServerTrust& trust, Clock::time_point deadline,
                          std::string& error) {
    const auto fail = [&](const std::string& reason) {
        error = Format("ERROR: TLS handshake with %s failed: %s\n", host.c_str(), reason.c_str());
        return false;
    };
    const auto ioFailure = [&] {
        return fail(m_lastIo == Io::Closed       ? "connection closed"
                    : m_lastIo == Io::Failed     ? "connection error"
                    : m_lastIo == Io::WouldBlock ? "timed out"
                                                 : "not a TLS answer");
    };
    std::wstring target = Wide(host);
    bool first = true;
    for (;;) {
        SecBuffer in[2] = {{static_cast<unsigned long>(m_in.size()), SECBUFFER_TOKEN, m_in.data()},
                           {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc inDesc{SECBUFFER_VERSION, 2, in};
        Token token;
        SecBufferDesc outDesc{SECBUFFER_VERSION, 1, &token.buffer};
        unsigned long attributes = 0;
        const SECURITY_STATUS status =
            InitializeSecurityContextW(&m_credentials, first ? nullptr : &m_context, target.data(), kContextFlags, 0, 0,
                                       first ? nullptr : &inDesc, 0, &m_context, &outDesc, &attributes, nullptr);
        if (first && (status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED)) m_haveContext = true;
        first = false;
        if (status == SEC_E_INCOMPLETE_MESSAGE) {
            if (!ReceiveMore(deadline)) return ioFailure();
            continue;
        }
        const bool going =
            status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED || status == SEC_I_INCOMPLETE_CREDENTIALS;
        // The answer goes out even with an error: it is the alert saying why.
        const bool sent = token.buffer.cbBuffer == 0 || token.buffer.pvBuffer == nullptr ||
                          SendAll(token.buffer.pvBuffer, token.buffer.cbBuffer, deadline);
        if (!going) return fail(StatusText(status));
        if (!sent) return ioFailure();
        // Bytes past the handshake message: the next message, or data.
        if (in[1].BufferType == SECBUFFER_EXTRA && in[1].cbBuffer > 0 && in[1].cbBuffer <= m_in.size())
            m_in.erase(m_in.begin(), m_in.end() - in[1].cbBuffer);
        else if (status != SEC_I_INCOMPLETE_CREDENTIALS)
            m_in.clear();
        if (status == SEC_E_OK) break;
        if (status == SEC_I_CONTINUE_NEEDED && m_in.empty() && !ReceiveMore(deadline)) return ioFailure();
        if (RemainingMs(deadline) == 0) return fail("timed out");
    }
    m_inShort = m_in.empty();

    const CERT_CONTEXT* certificate = nullptr;
    SECURITY_STATUS status = QueryContextAttributesW(&m_context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &certificate);
    if (status != SEC_E_OK || certificate == nullptr) return fail("no certificate from the server");
    const std::string untrusted = trust.Check(certificate, host);
    CertFreeCertificateContext(certificate);
    if (!untrusted.empty()) {
        error = Format("ERROR: Could not verify %s: %s\n", host.c_str(), untrusted.c_str());
        return false;
    }
    status = QueryContextAttributesW(&m_context, SECPKG_ATTR_STREAM_SIZES, &m_sizes);
    if (status != SEC_E_OK) return fail(StatusText(status));
    m_open = true;
    return true;
}

Io TlsStream::DecryptRecord() {
    SecBuffer buffers[4] = {{static_cast<unsigned long>(m_in.size()), SECBUFFER_DATA, m_in.data()},
                            {0, SECBUFFER_EMPTY, nullptr},
                            {0, SECBUFFER_EMPTY, nullptr},
                            {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
    const SECURITY_STATUS status = DecryptMessage(&m_context, &desc, 0, nullptr);
    if (status == SEC_E_INCOMPLETE_MESSAGE) {
        m_inShort = true;
        return m_in.size() > kMaxRecord ? Io::Failed : Io::WouldBlock;
    }
    if (status == SEC_I_CONTEXT_EXPIRED || status == SEC_I_RENEGOTIATE) {
        // The peer's close_notify; a renegotiation is not taken up and ends
        // the connection the same way.
        m_peerClosed = true;
        m_open = status == SEC_I_RENEGOTIATE;
        m_in.clear();
        return Io::Closed;
    }
    if (status != SEC_E_OK) return Io::Failed;
    // Decrypted in place: the data lies within m_in, copied out before the
    // rest of the input moves up.
    std::vector<std::uint8_t> rest;
    for (const SecBuffer& b : buffers) {
        if (b.BufferType == SECBUFFER_DATA && b.cbBuffer > 0) {
            if (m_plainAt == m_plain.size()) {
                m_plain.clear();
                m_plainAt = 0;
            }
            const auto* p = static_cast<const std::uint8_t*>(b.pvBuffer);
            m_plain.insert(m_plain.end(), p, p + b.cbBuffer);
        } else if (b.BufferType == SECBUFFER_EXTRA && b.cbBuffer > 0 && b.cbBuffer <= m_in.size()) {
            rest.assign(m_in.end() - b.cbBuffer, m_in.end());
        }
    }
    m_in.swap(rest);
    m_inShort = m_in.empty();
    return Io::Ok;
}

Io TlsStream::Read(std::uint8_t* buf, std::size_t size, std::size_t& n) {
    n = 0;
    // Bounded: each round decrypts a record or reads fresh input.
    for (int round = 0; round < 64; ++round) {
        if (m_plainAt < m_plain.size()) {
            n = std::min(size, m_plain.size() - m_plainAt);
            std::memcpy(buf, m_plain.data() + m_plainAt, n);
            m_plainAt += n;
            return Io::Ok;
        }
        if (m_peerClosed) return Io::Closed;
        if (!m_in.empty() && !m_inShort) {
            const Io io = DecryptRecord();
            if (io == Io::Ok || io == Io::Closed) continue;
            if (io == Io::Failed) return Io::Failed;
        }
        std::uint8_t chunk[16384];
        std::size_t got = 0;
        m_lastIo = m_inner->Read(chunk, sizeof chunk, got);
        if (m_lastIo != Io::Ok) return m_lastIo;  // an end without close_notify counts as the end
        m_in.insert(m_in.end(), chunk, chunk + got);
        m_inShort = false;
    }
    return Io::WouldBlock;  // a long run of empty records: the next Wait returns at once
}

Io TlsStream::Flush() {
    while (m_outAt < m_out.size()) {
        std::size_t n = 0;
        m_lastIo = m_inner->Write(m_out.data() + m_outAt, m_out.size() - m_outAt, n);
        if (m_lastIo != Io::Ok) return m_lastIo;
        m_outAt += n;
    }
    return Io::Ok;
}

// One record at a time; its bytes count as written once all of it is on
// the wire, so a caller that gets WouldBlock offers the same bytes again.
Io TlsStream::Write(const std::uint8_t* data, std::size_t size, std::size_t& n) {
    n = 0;
    if (!m_open) return m_peerClosed ? Io::Closed : Io::Failed;
    if (m_out.empty()) {
        const std::size_t chunk = std::min<std::size_t>(size, m_sizes.cbMaximumMessage);
        if (chunk == 0) return Io::Ok;
        m_out.resize(m_sizes.cbHeader + chunk + m_sizes.cbTrailer);
        std::memcpy(m_out.data() + m_sizes.cbHeader, data, chunk);
        SecBuffer buffers[4] = {{m_sizes.cbHeader, SECBUFFER_STREAM_HEADER, m_out.data()},
                                {static_cast<unsigned long>(chunk), SECBUFFER_DATA, m_out.data() + m_sizes.cbHeader},
                                {m_sizes.cbTrailer, SECBUFFER_STREAM_TRAILER, m_out.data() + m_sizes.cbHeader + chunk},
                                {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
        if (EncryptMessage(&m_context, 0, &desc, 0) != SEC_E_OK) {
            m_out.clear();
            return Io::Failed;
        }
        m_out.resize(buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer);
        m_outAt = 0;
        m_outPlain = chunk;
    }
    const Io io = Flush();
    if (io != Io::Ok) return io;
    n = std::min(m_outPlain, size);
    m_out.clear();
    m_outAt = 0;
    return Io::Ok;
}

// Best effort: the alert goes out if the socket takes it now; its answer
// is not awaited.
void TlsStream::SendCloseNotify() {
    DWORD type = SCHANNEL_SHUTDOWN;
    SecBuffer control{sizeof type, SECBUFFER_TOKEN, &type};
    SecBufferDesc controlDesc{SECBUFFER_VERSION, 1, &control};
    if (ApplyControlToken(&m_context, &controlDesc) != SEC_E_OK) return;
    Token token;
    SecBufferDesc outDesc{SECBUFFER_VERSION, 1, &token.buffer};
    unsigned long attributes = 0;
    const SECURITY_STATUS status = InitializeSecurityContextW(&m_credentials, &m_context, nullptr, kContextFlags, 0, 0,
                                                              nullptr, 0, nullptr, &outDesc, &attributes, nullptr);
    if ((status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED) && token.buffer.pvBuffer != nullptr) {
        if (m_outAt < m_out.size()) Flush();  // a record half sent goes first, or the alert would corrupt it
        if (m_outAt >= m_out.size()) {
            std::size_t n = 0;
            m_inner->Write(static_cast<const std::uint8_t*>(token.buffer.pvBuffer), token.buffer.cbBuffer, n);
        }
    }
}

}  // namespace

std::unique_ptr<Stream> OpenTls(std::unique_ptr<Stream> inner, const std::string& host, Clock::time_point deadline,
                                std::string& error) {
    ServerTrust trust;
    std::string why;
    const char* caFile = std::getenv("QUORVIN_CA_FILE");
    if (caFile != nullptr && *caFile != '\0' && !trust.LoadCaFile(caFile, why)) {
        error = Format("ERROR: Could not load CA file %s: %s\n", caFile, why.c_str());
        return nullptr;
    }
    auto tls = std::make_unique<TlsStream>(std::move(inner));
    if (!tls->Setup(why)) {
        error = Format("ERROR: TLS setup failed: %s\n", why.c_str());
        return nullptr;
    }
    if (!tls->Handshake(host, trust, deadline, error)) return nullptr;
    return tls;
}

}  // namespace quorvin::wsclient
