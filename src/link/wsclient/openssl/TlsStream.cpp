// Owns every OpenSSL call of the WebSocket client. TLS runs over the TCP
// stream through a BIO of our own, so the socket calls stay in one file and
// a vanished peer never raises SIGPIPE. The server's certificate is checked
// against the system's store, or the CA file named by QUORVIN_CA_FILE, and
// against the host name (or address) the URL named.
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <cstdlib>
#include <cstring>

#include "link/wsclient/Handshake.h"
#include "link/wsclient/Stream.h"

namespace quorvin::wsclient {

namespace {

struct CtxDeleter {
    void operator()(SSL_CTX* ctx) const { SSL_CTX_free(ctx); }
};
struct SslDeleter {
    void operator()(SSL* ssl) const { SSL_free(ssl); }
};
struct MethodDeleter {
    void operator()(BIO_METHOD* method) const { BIO_meth_free(method); }
};
using CtxPtr = std::unique_ptr<SSL_CTX, CtxDeleter>;
using SslPtr = std::unique_ptr<SSL, SslDeleter>;

// The first OpenSSL error queued, the root of the rest, as text.
std::string FirstError() {
    const unsigned long code = ERR_peek_error();
    if (ERR_SYSTEM_ERROR(code)) return std::strerror(ERR_GET_REASON(code));
    const char* reason = code != 0 ? ERR_reason_error_string(code) : nullptr;
    return reason != nullptr ? reason : "unknown error";
}

class TlsStream final : public Stream {
public:
    TlsStream(std::unique_ptr<Stream> inner, CtxPtr ctx) : m_inner(std::move(inner)), m_ctx(std::move(ctx)) {}

    bool Setup(const std::string& host);
    // Runs the handshake until deadline; false with the stderr line in error.
    bool Handshake(const std::string& host, Clock::time_point deadline, std::string& error);

    Io Read(std::uint8_t* buf, std::size_t size, std::size_t& n) override {
        n = 0;
        ERR_clear_error();
        if (SSL_read_ex(m_ssl.get(), buf, size, &n) == 1) return Io::Ok;
        const int err = SSL_get_error(m_ssl.get(), 0);
        if (err == SSL_ERROR_WANT_READ || err == SSL_ERROR_WANT_WRITE) {
            m_readNeedsWrite = err == SSL_ERROR_WANT_WRITE;
            return Io::WouldBlock;
        }
        return Failure(err);
    }

    Io Write(const std::uint8_t* data, std::size_t size, std::size_t& n) override {
        n = 0;
        ERR_clear_error();
        // At most one record: a retry after WANT_WRITE then never offers
        // fewer bytes than the call before it, as OpenSSL requires.
        if (SSL_write_ex(m_ssl.get(), data, size < kRecord ? size : kRecord, &n) == 1) return Io::Ok;
        const int err = SSL_get_error(m_ssl.get(), 0);
        if (err == SSL_ERROR_WANT_READ || err == SSL_ERROR_WANT_WRITE) {
            m_writeNeedsRead = err == SSL_ERROR_WANT_READ;
            return Io::WouldBlock;
        }
        return Failure(err);
    }

    void Wait(bool read, bool write, int timeoutMs) override {
        if (read && SSL_has_pending(m_ssl.get()) == 1) return;  // already decrypted, or a record buffered
        const bool innerRead = (read && !m_readNeedsWrite) || (write && m_writeNeedsRead);
        const bool innerWrite = (read && m_readNeedsWrite) || (write && !m_writeNeedsRead);
        m_inner->Wait(innerRead, innerWrite, timeoutMs);
    }

    void Interrupt() override { m_inner->Interrupt(); }

    void Close() override {
        if (m_open) {
            ERR_clear_error();
            SSL_shutdown(m_ssl.get());  // a close_notify if the socket takes it; its answer is not awaited
        }
        m_open = false;
        m_inner->Close();
    }

    // The BIO's side, over the inner stream. The last answer is kept so a
    // failed read can tell the peer's end from an error.
    static int BioRead(BIO* bio, char* buf, std::size_t size, std::size_t* n);
    static int BioWrite(BIO* bio, const char* data, std::size_t size, std::size_t* n);

private:
    static constexpr std::size_t kRecord = 16384;

    Io Failure(int err) {
        if (err == SSL_ERROR_ZERO_RETURN) return Io::Closed;  // the peer's close_notify
        m_open = false;                                       // no shutdown after a fatal error
        return m_lastIo == Io::Closed ? Io::Closed : Io::Failed;
    }

    std::unique_ptr<Stream> m_inner;
    CtxPtr m_ctx;
    SslPtr m_ssl;  // after m_inner: freed first, as its BIO points at this stream
    bool m_open = false;
    bool m_readNeedsWrite = false;
    bool m_writeNeedsRead = false;
    Io m_lastIo = Io::Ok;
};

int TlsStream::BioRead(BIO* bio, char* buf, std::size_t size, std::size_t* n) {
    auto* self = static_cast<TlsStream*>(BIO_get_data(bio));
    BIO_clear_retry_flags(bio);
    self->m_lastIo = self->m_inner->Read(reinterpret_cast<std::uint8_t*>(buf), size, *n);
    if (self->m_lastIo == Io::WouldBlock) BIO_set_retry_read(bio);
    return self->m_lastIo == Io::Ok ? 1 : 0;
}

int TlsStream::BioWrite(BIO* bio, const char* data, std::size_t size, std::size_t* n) {
    auto* self = static_cast<TlsStream*>(BIO_get_data(bio));
    BIO_clear_retry_flags(bio);
    self->m_lastIo = self->m_inner->Write(reinterpret_cast<const std::uint8_t*>(data), size, *n);
    if (self->m_lastIo == Io::WouldBlock) BIO_set_retry_write(bio);
    return self->m_lastIo == Io::Ok ? 1 : 0;
}

long BioCtrl(BIO*, int cmd, long, void*) { return cmd == BIO_CTRL_FLUSH ? 1 : 0; }

int BioCreate(BIO* bio) {
    BIO_set_init(bio, 1);
    return 1;
}

// Made once, lives with the process.
BIO_METHOD* StreamMethod() {
    static const std::unique_ptr<BIO_METHOD, MethodDeleter> method([] {
        BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "quorvin stream");
        if (m != nullptr &&
            (BIO_meth_set_read_ex(m, TlsStream::BioRead) != 1 || BIO_meth_set_write_ex(m, TlsStream::BioWrite) != 1 ||
             BIO_meth_set_ctrl(m, BioCtrl) != 1 || BIO_meth_set_create(m, BioCreate) != 1)) {
            BIO_meth_free(m);
            m = nullptr;
        }
        return m;
    }());
    return method.get();
}

bool TlsStream::Setup(const std::string& host) {
    BIO_METHOD* method = StreamMethod();
    m_ssl.reset(SSL_new(m_ctx.get()));
    if (method == nullptr || !m_ssl) return false;
    BIO* bio = BIO_new(method);
    if (bio == nullptr) return false;
    BIO_set_data(bio, this);
    SSL_set_bio(m_ssl.get(), bio, bio);  // the SSL owns it from here
    if (X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(m_ssl.get()), host.c_str()) == 1) return true;
    // A name: sent for SNI (an address never is) and matched against the certificate.
    return SSL_set_tlsext_host_name(m_ssl.get(), host.c_str()) == 1 && SSL_set1_host(m_ssl.get(), host.c_str()) == 1;
}

bool TlsStream::Handshake(const std::string& host, Clock::time_point deadline, std::string& error) {
    for (;;) {
        ERR_clear_error();
        const int rc = SSL_connect(m_ssl.get());
        if (rc == 1) {
            m_open = true;
            return true;
        }
        const int err = SSL_get_error(m_ssl.get(), rc);
        if (err != SSL_ERROR_WANT_READ && err != SSL_ERROR_WANT_WRITE) break;
        const int left = RemainingMs(deadline);
        if (left == 0) {
            error = Format("ERROR: TLS handshake with %s failed: timed out\n", host.c_str());
            return false;
        }
        m_inner->Wait(err == SSL_ERROR_WANT_READ, err == SSL_ERROR_WANT_WRITE, left);
    }
    const long verify = SSL_get_verify_result(m_ssl.get());
    if (verify != X509_V_OK) {
        error = Format("ERROR: Could not verify %s: %s\n", host.c_str(), X509_verify_cert_error_string(verify));
        return false;
    }
    const std::string reason = m_lastIo == Io::Closed   ? "connection closed"
                               : m_lastIo == Io::Failed ? "connection error"
                                                        : FirstError();
    error = Format("ERROR: TLS handshake with %s failed: %s\n", host.c_str(), reason.c_str());
    return false;
}

}  // namespace

std::unique_ptr<Stream> OpenTls(std::unique_ptr<Stream> inner, const std::string& host, Clock::time_point deadline,
                                std::string& error) {
    ERR_clear_error();
    CtxPtr ctx(SSL_CTX_new(TLS_client_method()));
    const char* caFile = std::getenv("QUORVIN_CA_FILE");
    bool ok = ctx && SSL_CTX_set_min_proto_version(ctx.get(), TLS1_2_VERSION) == 1;
    if (ok && caFile != nullptr && *caFile != '\0') {
        if (SSL_CTX_load_verify_locations(ctx.get(), caFile, nullptr) != 1) {
            error = Format("ERROR: Could not load CA file %s: %s\n", caFile, FirstError().c_str());
            return nullptr;
        }
    } else if (ok) {
        ok = SSL_CTX_set_default_verify_paths(ctx.get()) == 1;
    }
    std::unique_ptr<TlsStream> tls;
    if (ok) {
        SSL_CTX_set_verify(ctx.get(), SSL_VERIFY_PEER, nullptr);
        SSL_CTX_set_mode(ctx.get(), SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
        tls = std::make_unique<TlsStream>(std::move(inner), std::move(ctx));
        ok = tls->Setup(host);
    }
    if (!ok) {
        error = Format("ERROR: TLS setup failed: %s\n", FirstError().c_str());
        return nullptr;
    }
    if (!tls->Handshake(host, deadline, error)) return nullptr;
    return tls;
}

}  // namespace quorvin::wsclient
