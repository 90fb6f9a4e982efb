// A small WebSocket client (RFC 6455) that works by polling: the owner calls
// poll() to move bytes between the socket and two in-memory buffers, and
// dispatch() to hand each complete received message to a callback. Sending
// only queues a frame; the next poll() writes it.
//
// "ws://host[:port][/path]" opens a plain TCP connection, "wss://..." a TLS
// one (certificate and host name verified against the system store, or the
// CA file named by QUORVIN_CA_FILE). Opening failures and connection losses
// are written as lines to stderr; nothing is thrown. Destroying a
// connection closes its socket at once.
//
// Thread safety: one connection has no lock of its own. Its owner
// serialises every call, with two exceptions made for an owner that polls
// on one thread and queues sends from others: wait() touches no buffer and
// may run while another thread (holding the owner's lock) calls send(),
// and interrupt() is safe from any thread at any time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace quorvin::wsclient {

// A frame or a joined message longer than this is refused as soon as its
// length is announced: nothing of it is buffered, the connection closes
// with status 1009 and messageTooBig() turns true.
inline constexpr std::size_t kMaxMessageBytes = 16u << 20;

// Queued output beyond this, or queued output of which nothing could be
// written for kSendStallMs, fails the connection: a peer that stops
// reading cannot make the agent's memory grow without bound.
inline constexpr std::size_t kMaxQueuedBytes = 64u << 20;
inline constexpr int kSendStallMs = 10000;

// Once this side's close frame is written, the connection stays CLOSING
// until the peer's close frame or end of stream, or for this long: closing
// the socket while the peer still sends would reset the connection and
// could lose the close frame.
inline constexpr int kCloseWaitMs = 2000;

// The bound on opening a connection (name look-up, connect, TLS and the
// upgrade handshake together).
inline constexpr int kOpenTimeoutMs = 10000;

class Callback_Imp {
public:
    virtual ~Callback_Imp() = default;
    virtual void operator()(const std::string& message) = 0;
};

class BytesCallback_Imp {
public:
    virtual ~BytesCallback_Imp() = default;
    virtual void operator()(const std::vector<std::uint8_t>& message) = 0;
};

class WebSocket {
public:
    enum readyStateValues { CLOSING = 0, CLOSED = 1, CONNECTING = 2, OPEN = 3 };

    virtual ~WebSocket() = default;

    // Moves bytes: waits first when timeoutMs is not 0 (negative: no limit)
    // for input, for room to write queued output, or for interrupt(); then
    // reads what is available and writes as much queued output as the
    // socket takes. What arrives is parsed at once: pings are answered and
    // close frames honoured here, complete messages wait for dispatch()
    // (reading pauses while 16 MiB of them wait). A read or write failure,
    // the peer's close, or a send stalled for kSendStallMs makes the
    // connection CLOSED ("Connection error!" / "Connection closed!"). On a
    // CLOSED connection it only waits out a positive timeout.
    virtual void poll(int timeoutMs = 0) = 0;
    // Queue one unfragmented text / binary message; nothing once CLOSING or CLOSED.
    virtual void send(const std::string& message) = 0;
    virtual void sendBinary(const std::vector<std::uint8_t>& message) = 0;
    virtual void sendBinary(const std::string& message) = 0;
    // Queues an empty ping.
    virtual void sendPing() = 0;
    // Queues a close frame (once) and turns CLOSING; later polls write it
    // and then close the socket (see kCloseWaitMs).
    virtual void close() = 0;
    virtual readyStateValues getReadyState() const = 0;
    // Hands each complete message received so far to the callback, in
    // order, on the calling thread; also after the connection closed.
    virtual void _dispatch(Callback_Imp& callable) = 0;
    virtual void _dispatchBinary(BytesCallback_Imp& callable) = 0;

    // The waiting half of poll() on its own: returns once input is
    // readable, queued output can be written, interrupt() was called, or
    // timeoutMs passed (negative: no limit). Reads and writes nothing. On a
    // CLOSED connection, where nothing more can come, a negative timeout
    // returns at once.
    virtual void wait(int timeoutMs) = 0;
    // Ends a wait() or a waiting poll() in progress at once, or else the
    // next one. Safe from any thread.
    virtual void interrupt() = 0;
    // Bytes queued and not yet written.
    virtual std::size_t bufferedAmount() const = 0;
    // True once a message over kMaxMessageBytes was refused.
    virtual bool messageTooBig() const = 0;

    // Calls callable(const std::string&) once per complete received message.
    template <class Callable>
    void dispatch(Callable callable) {
        // NOLINTNEXTLINE(bugprone-reserved-identifier): established name
        struct _Callback : public Callback_Imp {
            Callable& callable;
            explicit _Callback(Callable& c) : callable(c) {}
            void operator()(const std::string& message) override { callable(message); }
        };
        _Callback callback(callable);
        _dispatch(callback);
    }
};

// Opens a connection with masked frames (as a client must send them), or
// answers null after writing why to stderr. origin empty: no Origin line.
// The whole opening gives up after timeoutMs.
std::unique_ptr<WebSocket> fromUrl(const std::string& url, const std::string& origin = std::string(),
                                   int timeoutMs = kOpenTimeoutMs);
// The same with unmasked frames (for peers of our own that want them).
std::unique_ptr<WebSocket> fromUrlNoMask(const std::string& url, const std::string& origin = std::string(),
                                         int timeoutMs = kOpenTimeoutMs);
// The process-wide connection that does nothing and is always CLOSED.
WebSocket* createDummy();

}  // namespace quorvin::wsclient
