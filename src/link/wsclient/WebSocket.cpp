// The connection: opening (URL, TCP, TLS, upgrade handshake, all within one
// deadline), then polling. Received bytes are parsed as they arrive, so a
// message over the limit is refused before it is buffered and pings are
// answered at once; complete messages wait for dispatch().
#include "link/wsclient/WebSocket.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <deque>
#include <optional>

#include "common/Platform.h"
#include "link/wsclient/Frame.h"
#include "link/wsclient/Handshake.h"
#include "link/wsclient/Open.h"
#include "link/wsclient/Stream.h"

namespace quorvin::wsclient {

namespace {

void Print(const std::string& text) {
    std::fputs(text.c_str(), stderr);
    std::fflush(stderr);
}

constexpr std::size_t kReadChunk = 65536;
// Received messages kept for dispatch() before reading pauses (each counts
// a little extra, so a flood of empty ones is bounded too).
constexpr std::size_t kMaxReadyBytes = kMaxMessageBytes;
constexpr std::size_t kReadyOverhead = 64;
// One poll() reads at most this much, so a peer that never pauses cannot
// keep it from writing.
constexpr std::size_t kReadPerPoll = kMaxMessageBytes;

// NOLINTNEXTLINE(bugprone-reserved-identifier): established name
class _RealWebSocket final : public WebSocket, private FrameSink {
public:
    _RealWebSocket(std::unique_ptr<Stream> stream, const OpenOptions& options)
        : m_stream(std::move(stream)),
          m_mask(options.mask),
          m_stallMs(options.sendStallMs),
          m_closeWaitMs(options.closeWaitMs),
          m_maxQueued(options.maxQueuedBytes) {}

    ~_RealWebSocket() override = default;  // the stream closes its socket

    // Bytes that came with the handshake's answer.
    void Take(const std::uint8_t* data, std::size_t size) { m_parser.Feed(data, size, *this); }

    void poll(int timeoutMs) override {
        if (m_state == CLOSED) {
            if (timeoutMs > 0) m_stream->Wait(false, false, timeoutMs);
            return;
        }
        if (timeoutMs != 0) wait(timeoutMs);
        if (m_failPending) return Fail("Connection error!\n");
        Receive();
        Transmit();
        if (m_state != CLOSING || m_queued != 0) return;
        if (!m_closeSent) {
            m_closeSent = true;
            m_closeDeadline = Clock::now() + std::chrono::milliseconds(m_closeWaitMs);
        }
        if (m_peerClosed || Clock::now() >= m_closeDeadline) End();
    }

    void send(const std::string& message) override {
        Queue(kText, reinterpret_cast<const std::uint8_t*>(message.data()), message.size());
    }
    void sendBinary(const std::vector<std::uint8_t>& message) override {
        Queue(kBinary, message.data(), message.size());
    }
    void sendBinary(const std::string& message) override {
        Queue(kBinary, reinterpret_cast<const std::uint8_t*>(message.data()), message.size());
    }
    void sendPing() override { Queue(kPing, nullptr, 0); }

    void close() override { CloseWith(nullptr, 0); }

    readyStateValues getReadyState() const override { return m_state; }

    void _dispatch(Callback_Imp& callable) override {
        struct CallbackAdapter : public BytesCallback_Imp {
            Callback_Imp& callable;
            explicit CallbackAdapter(Callback_Imp& c) : callable(c) {}
            void operator()(const std::vector<std::uint8_t>& message) override {
                callable(std::string(message.begin(), message.end()));
            }
        };
        CallbackAdapter adapter(callable);
        _dispatchBinary(adapter);
    }

    void _dispatchBinary(BytesCallback_Imp& callable) override {
        while (!m_ready.empty()) {
            const std::vector<std::uint8_t> message = std::move(m_ready.front());
            m_ready.pop_front();
            m_readyCost -= message.size() + kReadyOverhead;
            callable(message);
        }
    }

    void wait(int timeoutMs) override {
        if (m_state == CLOSED && timeoutMs < 0) return;
        if (m_closeSent && m_state == CLOSING) {  // wake for the end of the close wait
            const int left = RemainingMs(m_closeDeadline) + 1;
            if (timeoutMs < 0 || timeoutMs > left) timeoutMs = left;
        }
        const bool read = m_state != CLOSED && m_readyCost < kMaxReadyBytes;
        m_stream->Wait(read, m_state != CLOSED && m_queued > 0, timeoutMs);
    }

    void interrupt() override { m_stream->Interrupt(); }

    std::size_t bufferedAmount() const override { return m_queued; }

    bool messageTooBig() const override { return m_tooBig; }

private:
    void End() {
        m_stream->Close();
        m_state = CLOSED;
    }

    void Fail(const char* line) {
        m_stream->Close();
        m_state = CLOSED;
        std::vector<std::uint8_t>().swap(m_send);
        m_sent = 0;
        m_queued = 0;
        Print(line);
    }

    void Receive() {
        std::size_t total = 0;
        while (m_readyCost < kMaxReadyBytes && total < kReadPerPoll) {
            std::size_t n = 0;
            const Io io = m_stream->Read(m_chunk, sizeof m_chunk, n);
            if (io == Io::WouldBlock) return;
            if (io != Io::Ok && m_closeSent) return End();  // the peer ends its side after our close frame
            if (io != Io::Ok) return Fail(io == Io::Closed ? "Connection closed!\n" : "Connection error!\n");
            total += n;
            if (!m_parser.Broken()) m_parser.Feed(m_chunk, n, *this);  // once broken, read only to see the end
        }
    }

    void Transmit() {
        while (m_state != CLOSED && m_sent < m_send.size()) {
            std::size_t n = 0;
            const Io io = m_stream->Write(m_send.data() + m_sent, m_send.size() - m_sent, n);
            if (io == Io::WouldBlock) break;
            if (io != Io::Ok) return Fail(io == Io::Closed ? "Connection closed!\n" : "Connection error!\n");
            m_sent += n;
            m_queued = m_send.size() - m_sent;
            m_progressAt = Clock::now();
        }
        if (m_sent == m_send.size()) {
            m_send.clear();
            m_sent = 0;
        } else if (m_sent > m_send.size() / 2) {
            m_send.erase(m_send.begin(), m_send.begin() + static_cast<std::ptrdiff_t>(m_sent));
            m_sent = 0;
        }
        if (m_state != CLOSED && m_queued > 0 && Clock::now() - m_progressAt >= std::chrono::milliseconds(m_stallMs))
            Fail("Connection error!\n");
    }

    // Queues one frame; a frame that would take the queue past its limit,
    // or that cannot get a random key, fails the connection at the next poll.
    void QueueFrame(std::uint8_t opcode, const std::uint8_t* payload, std::size_t size) {
        std::uint8_t key[4];
        if ((m_mask && !m_keys.Next(key)) || size + 14 > m_maxQueued - std::min(m_maxQueued, m_queued.load())) {
            m_failPending = true;
            m_stream->Interrupt();
            return;
        }
        if (m_queued == 0) m_progressAt = Clock::now();
        AppendFrame(m_send, opcode, payload, size, m_mask ? key : nullptr);
        m_queued = m_send.size() - m_sent;
    }

    void Queue(std::uint8_t opcode, const std::uint8_t* payload, std::size_t size) {
        if (m_state == OPEN) QueueFrame(opcode, payload, size);
    }

    void CloseWith(const std::uint8_t* payload, std::size_t size) {
        if (m_state != OPEN) return;
        QueueFrame(kClose, payload, size);
        m_state = CLOSING;
    }

    // What the parser found.
    void OnMessage(std::vector<std::uint8_t>&& message) override {
        m_readyCost += message.size() + kReadyOverhead;
        m_ready.push_back(std::move(message));
    }
    void OnPing(const std::vector<std::uint8_t>& payload) override { Queue(kPong, payload.data(), payload.size()); }
    void OnClose() override {
        m_peerClosed = true;
        close();
    }
    void OnError(FrameError error) override {
        if (error == FrameError::TooBig) {
            m_tooBig = true;
            Print("ERROR: Message too big. Closing.\n");
            static const std::uint8_t kStatus1009[] = {0x03, 0xF1};
            return CloseWith(kStatus1009, sizeof kStatus1009);
        }
        Print(error == FrameError::BadLength ? "ERROR: Frame has invalid frame length. Closing.\n"
                                             : "ERROR: Got unexpected WebSocket message.\n");
        close();
    }

    std::unique_ptr<Stream> m_stream;
    const bool m_mask;
    const int m_stallMs;
    const int m_closeWaitMs;
    const std::size_t m_maxQueued;
    // Read by wait() while another thread may queue a send.
    std::atomic<readyStateValues> m_state{OPEN};
    std::atomic<std::size_t> m_queued{0};
    std::atomic<bool> m_failPending{false};
    bool m_tooBig = false;
    bool m_peerClosed = false;  // its close frame arrived
    bool m_closeSent = false;   // ours is written
    Clock::time_point m_closeDeadline;

    FrameParser m_parser;
    std::deque<std::vector<std::uint8_t>> m_ready;
    std::size_t m_readyCost = 0;
    std::uint8_t m_chunk[kReadChunk];

    std::vector<std::uint8_t> m_send;
    std::size_t m_sent = 0;  // bytes of m_send already written
    Clock::time_point m_progressAt = Clock::now();
    MaskKeys m_keys{platform::RandomBytes};
};

// NOLINTNEXTLINE(bugprone-reserved-identifier): established name
class _DummyWebSocket final : public WebSocket {
public:
    void poll(int) override {}
    void send(const std::string&) override {}
    void sendBinary(const std::vector<std::uint8_t>&) override {}
    void sendBinary(const std::string&) override {}
    void sendPing() override {}
    void close() override {}
    readyStateValues getReadyState() const override { return CLOSED; }
    void _dispatch(Callback_Imp&) override {}
    void _dispatchBinary(BytesCallback_Imp&) override {}
    void wait(int) override {}
    void interrupt() override {}
    std::size_t bufferedAmount() const override { return 0; }
    bool messageTooBig() const override { return false; }
};

// Writes all of text before deadline.
Io WriteAll(Stream& stream, const std::string& text, Clock::time_point deadline) {
    std::size_t done = 0;
    while (done < text.size()) {
        std::size_t n = 0;
        const Io io = stream.Write(reinterpret_cast<const std::uint8_t*>(text.data()) + done, text.size() - done, n);
        if (io == Io::Ok) {
            done += n;
            continue;
        }
        if (io != Io::WouldBlock) return io;
        if (RemainingMs(deadline) == 0) return Io::WouldBlock;
        stream.Wait(false, true, RemainingMs(deadline));
    }
    return Io::Ok;
}

}  // namespace

std::unique_ptr<WebSocket> Open(const std::string& url, const std::string& origin, const OpenOptions& options) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(options.timeoutMs);
    std::string error;
    const std::optional<Target> target = ParseUrl(url, origin, error);
    if (!target) {
        Print(error);
        return nullptr;
    }
    std::unique_ptr<Stream> stream = OpenTcp(target->host, target->port, deadline, error);
    if (!stream) {
        Print(error + Format("Unable to connect to %s:%d\n", target->host.c_str(), target->port));
        return nullptr;
    }
    if (target->tls) {
        stream = OpenTls(std::move(stream), target->host, deadline, error);
        if (!stream) {
            Print(error);
            return nullptr;
        }
    }
    Io io = WriteAll(*stream, RequestText(*target, origin), deadline);
    ResponseReader reader(url);
    std::uint8_t chunk[512];
    while (io == Io::Ok) {
        std::size_t n = 0;
        io = stream->Read(chunk, sizeof chunk, n);
        if (io == Io::WouldBlock && RemainingMs(deadline) > 0) {
            stream->Wait(true, false, RemainingMs(deadline));
            io = Io::Ok;
            continue;
        }
        ResponseReader::Step step = ResponseReader::Step::More;
        std::size_t used = 0;
        while (io == Io::Ok && used < n && step == ResponseReader::Step::More)
            step = reader.Feed(static_cast<char>(chunk[used++]));
        if (step == ResponseReader::Step::Failed) {
            Print(reader.Error());
            return nullptr;
        }
        if (step == ResponseReader::Step::Done) {
            auto ws = std::make_unique<_RealWebSocket>(std::move(stream), options);
            ws->Take(chunk + used, n - used);  // frames sent right behind the answer
            return ws;
        }
    }
    // The peer's close during the handshake fails the opening without a word.
    if (io == Io::Failed) Print(Format("ERROR: Connection error connecting to: %s\n", url.c_str()));
    if (io == Io::WouldBlock) Print(Format("ERROR: Timed out connecting to: %s\n", url.c_str()));
    return nullptr;
}

std::unique_ptr<WebSocket> fromUrl(const std::string& url, const std::string& origin, int timeoutMs) {
    OpenOptions options;
    options.timeoutMs = timeoutMs;
    return Open(url, origin, options);
}

std::unique_ptr<WebSocket> fromUrlNoMask(const std::string& url, const std::string& origin, int timeoutMs) {
    OpenOptions options;
    options.mask = false;
    options.timeoutMs = timeoutMs;
    return Open(url, origin, options);
}

WebSocket* createDummy() {
    static _DummyWebSocket dummy;
    return &dummy;
}

}  // namespace quorvin::wsclient
