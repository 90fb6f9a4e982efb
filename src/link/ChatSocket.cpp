#include "link/ChatSocket.h"

#include "common/CommonTool.h"
#include "common/Json.h"
#include "common/Log.h"
#include "link/ChatManager.h"
#include "link/TcpSocket.h"
#include "message/Envelope.h"

namespace quorvin {

namespace {
constexpr std::size_t kReceiveChunk = std::size_t{64} * 1024;
constexpr char kHeartbeat = static_cast<char>(0xFF);
constexpr const char* kLogArea = "tcp link";

std::string DottedText(std::uint32_t a) {
    return std::to_string(a >> 24) + "." + std::to_string((a >> 16) & 0xFF) + "." + std::to_string((a >> 8) & 0xFF) +
           "." + std::to_string(a & 0xFF);
}
// The rhythm of every link thread: wait for stop or go (stop wins when both
// are set), run one step on go and signal go again, until a step fails or
// stop is seen.
template <typename Step>
void RunWhileGo(Event& stop, Event& go, Step step) {
    for (;;) {
        if (WaitAny({&stop, &go}) == 0) {
            stop.Reset();
            return;
        }
        go.Reset();
        if (!step()) return;
        go.Set();
    }
}

}  // namespace

struct CChatSocket::Connection {
    TcpSocket socket;
    Event receiveStop, receiveGo, heartbeatStop, heartbeatGo;
    std::atomic<bool> lost{false};
    MessageFramer framer;  // bytes after the last delimiter, for this connection only
    std::string peer;      // "10.0.0.5:9100", and the name it was looked up by, for diagnostics
};

thread_local CChatSocket::Answering CChatSocket::t_answering;

CChatSocket::CChatSocket(CChatManager& owner, const ChatTimings& timings)
    : m_owner(owner), m_timings(timings), m_receiveBuffer(kReceiveChunk), m_supervisor([this] { SupervisorProc(); }) {
    m_supervisorGo.Set();
}

CChatSocket::~CChatSocket() { Close(); }

void CChatSocket::Close() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_bClosing) return;
        m_bClosing = true;
        if (m_attemptCancel) m_attemptCancel->store(true);
        if (m_current) Retire(m_current);
        m_current.reset();
        m_bConnected = false;
    }
    m_supervisorStop.Set();
    if (m_supervisor.joinable()) m_supervisor.join();
    JoinAll();
}

bool CChatSocket::IsConnected() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_bConnected;
}

void CChatSocket::StartAttempt() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_lastConnectFailure.clear();  // a new Start: its first failure is news
    StartAttemptLocked();
}

void CChatSocket::StartAttemptLocked() {
    if (m_bClosing) return;
    // Supersede a running attempt: it keeps its own socket and, finding
    // itself out of date, closes it instead of installing it.
    if (m_attemptCancel) m_attemptCancel->store(true);
    if (m_current) Retire(m_current);
    m_current.reset();
    m_bConnected = false;
    m_bAttemptFinished = false;
    const std::uint64_t generation = ++m_generation;
    auto cancel = std::make_shared<std::atomic<bool>>(false);
    m_attemptCancel = cancel;
    Spawn([this, generation, cancel] { ConnectProc(generation, cancel); });
}

void CChatSocket::Disconnect() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_bConnected) return;
    m_bConnected = false;
    m_bAttemptFinished = false;  // the supervisor starts nothing until the next StartAttempt
    if (m_current) Retire(m_current);
    m_current.reset();
}

// Caller holds m_mutex.
void CChatSocket::Retire(const std::shared_ptr<Connection>& conn) {
    conn->lost.store(true);
    conn->heartbeatStop.Set();
    conn->receiveStop.Set();
    conn->socket.Shutdown();
}

void CChatSocket::LoseConnection(const std::shared_ptr<Connection>& conn, const std::string& why) {
    bool current;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        current = conn == m_current;
        if (current) {
            m_bConnected = false;  // attempt-finished stays true: the supervisor redials
            m_current.reset();
        }
        Retire(conn);
    }
    if (current) LogFailure(kLogArea, "connection to " + conn->peer + " lost: " + why);
}

bool CChatSocket::Send(const std::string& frame) {
    std::shared_ptr<Connection> conn;
    if (t_answering.socket == this) {
        conn = t_answering.conn;
    } else {
        std::lock_guard<std::mutex> lock(m_mutex);
        conn = m_current;
    }
    const std::string what = "message of " + std::to_string(frame.size() - 1) + " bytes not sent: ";
    if (!conn) {
        LogFailure(kLogArea, what + "not connected");
        return false;
    }
    if (conn->lost.load()) {
        LogFailure(kLogArea, what + "its connection to " + conn->peer + " has ended");
        return false;
    }
    return SendOn(conn, frame.data(), frame.size());
}

bool CChatSocket::SendOn(const std::shared_ptr<Connection>& conn, const char* data, std::size_t size) {
    bool ok;
    std::string why;
    {
        std::lock_guard<std::mutex> lock(m_sendMutex);
        ok = !conn->lost.load() && conn->socket.SendAll(data, size, m_timings.sendTimeoutMs, &why);
    }
    if (!ok) LoseConnection(conn, "send failed: " + why);
    return ok;
}

bool CChatSocket::Dial(const std::string& server, int port, Connection& conn, const std::atomic<bool>& cancel,
                       std::string& why) const {
    std::string dotted = server;
    const bool byName = !m_owner.Tool().IsDottedNumber(server);
    std::string reason;
    if (byName) {
        dotted = ResolveIpv4(server, m_timings.lookupTimeoutMs, &reason);
        if (dotted.empty()) {
            why = "cannot resolve \"" + server + "\": " + reason;
            return false;
        }
    }
    std::uint32_t address = 0;
    if (!ParseAddress(dotted, address)) {
        why = "\"" + server + "\" is no IPv4 address";
        return false;
    }
    const auto port16 = static_cast<std::uint16_t>(port & 0xFFFF);
    conn.peer = DottedText(address) + ":" + std::to_string(port16) + (byName ? " (" + server + ")" : "");
    if (!conn.socket.Connect(address, port16, m_timings.connectTimeoutMs, cancel, &reason)) {
        why = "connect to " + conn.peer + " failed: " + reason;
        return false;
    }
    conn.socket.SetLiveness({m_timings.unackedTimeoutMs, m_timings.keepaliveIdleMs, m_timings.keepaliveIntervalMs});
    return true;
}

bool CChatSocket::ParseAddress(const std::string& dotted, std::uint32_t& address) const {
    std::vector<std::string> fields;
    if (m_owner.Tool().SplitString(dotted, ".", fields) != 4) return false;
    address = 0;
    for (const std::string& f : fields) address = (address << 8) | (static_cast<std::uint32_t>(AtoI(f)) & 0xFFu);
    return true;
}

void CChatSocket::Spawn(std::function<void()> fn) {
    auto done = std::make_shared<std::atomic<bool>>(false);
    std::lock_guard<std::mutex> lock(m_workerMutex);
    m_workers.push_back(Worker{std::thread([fn = std::move(fn), done] {
                                   fn();
                                   done->store(true);
                               }),
                               done});
}

void CChatSocket::ReapFinished() {
    std::list<Worker> finished;
    {
        std::lock_guard<std::mutex> lock(m_workerMutex);
        for (auto it = m_workers.begin(); it != m_workers.end();) {
            auto next = std::next(it);
            if (it->done->load()) finished.splice(finished.end(), m_workers, it);
            it = next;
        }
    }
    for (Worker& w : finished) w.thread.join();
}

void CChatSocket::JoinAll() {
    for (;;) {
        std::list<Worker> all;
        {
            std::lock_guard<std::mutex> lock(m_workerMutex);
            if (m_workers.empty()) return;
            all.swap(m_workers);
        }
        for (Worker& w : all) w.thread.join();
    }
}

void CChatSocket::SupervisorProc() {
    RunWhileGo(m_supervisorStop, m_supervisorGo, [this] {
        ReapFinished();
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (!m_bConnected && m_bAttemptFinished) StartAttemptLocked();
        }
        // The stop event cuts the pause short; the next wait then sees it.
        WaitAny({&m_supervisorStop}, m_timings.reconnectMs);
        return true;
    });
}

void CChatSocket::ConnectProc(std::uint64_t generation, const std::shared_ptr<std::atomic<bool>>& cancel) {
    // Where to, read now: a Start since the last attempt re-targets this one.
    std::string server;
    int port = 0;
    m_owner.CurrentTarget(server, port);
    auto conn = std::make_shared<Connection>();
    std::string why;
    if (!Dial(server, port, *conn, *cancel, why)) {
        bool news;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (generation != m_generation || m_bClosing) return;  // superseded: its failure is no news
            m_bAttemptFinished = true;
            news = why != m_lastConnectFailure;  // the supervisor retries: say it once
            m_lastConnectFailure = why;
        }
        if (news) LogFailure(kLogArea, why);
        return;
    }
    std::string registration;
    bool sent = false;
    {
        // The send lock is held from the moment the connection is visible
        // until the registration is out, so it is the first message on
        // every connection whoever else is sending.
        std::lock_guard<std::mutex> sendLock(m_sendMutex);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (generation != m_generation || m_bClosing) return;  // superseded: conn closes its own socket
            m_current = conn;
            m_bConnected = true;
            m_bAttemptFinished = true;
            m_lastConnectFailure.clear();
            Spawn([this, conn] { HeartbeatProc(conn); });
            Spawn([this, conn] { ReceiveProc(conn); });
            conn->heartbeatGo.Set();
        }
        registration = m_owner.RegistrationText();
        std::string frame = registration;
        frame.push_back(static_cast<char>(MessageFramer::kDelimiter));
        sent = !conn->lost.load() && conn->socket.SendAll(frame.data(), frame.size(), m_timings.sendTimeoutMs, &why);
    }
    LogFailure(kLogArea, "connected to " + conn->peer);
    if (!sent) LoseConnection(conn, "send failed: " + why);
    m_owner.NotifyPage(TcpSentTrace(registration));
    // Reading starts once the registration's trace is on the page, so the
    // page sees it before anything received on this connection.
    conn->receiveGo.Set();
}

void CChatSocket::HeartbeatProc(std::shared_ptr<Connection> conn) {
    RunWhileGo(conn->heartbeatStop, conn->heartbeatGo, [this, &conn] {
        if (!SendOn(conn, &kHeartbeat, 1)) return false;
        WaitAny({&conn->heartbeatStop}, m_timings.heartbeatMs);
        return true;
    });
}

void CChatSocket::ReceiveProc(std::shared_ptr<Connection> conn) {
    RunWhileGo(conn->receiveStop, conn->receiveGo, [this, &conn] {
        std::string why;
        if (ReceiveOnce(conn, why)) return true;
        LoseConnection(conn, why);
        return false;
    });
    m_owner.OnDisconnected();
}

bool CChatSocket::ReceiveOnce(const std::shared_ptr<Connection>& conn, std::string& why) {
    std::lock_guard<std::mutex> lock(m_receiveMutex);
    if (conn->lost.load()) return false;
    // An orderly close (0 bytes) is a loss like an error: never spin on it.
    const long n = conn->socket.Receive(m_receiveBuffer.data(), m_receiveBuffer.size(), &why);
    if (n <= 0) return false;
    conn->framer.Feed(
        m_receiveBuffer.data(), static_cast<std::size_t>(n),
        [this, &conn](const std::string& message) {
            // Ended under us (Stop, Start, a failed send): the rest of the
            // chunk goes unanswered, as its replies could go nowhere.
            if (conn->lost.load()) return;
            t_answering = {this, conn};
            m_owner.DispatchCommand(message);
            t_answering = {};
        },
        [this, &conn] {
            LogFailure(kLogArea, "message from " + conn->peer + " over " +
                                     std::to_string(MessageFramer::kMaxMessage >> 20) + " MiB dropped");
            m_owner.NotifyPage(OversizeNotice());
        });
    return true;
}

}  // namespace quorvin
