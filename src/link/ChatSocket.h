// CChatSocket: the TCP link's connection object. It keeps dialling the
// manager's current server while wanted (supervisor thread, one connect
// thread per attempt: a later Start re-targets the next attempt, and a name
// is looked up anew at each), and runs a heartbeat and a receive thread per
// established connection. Failures and losses are written to stderr, one
// line each (common/Log.h); a connect failure repeated attempt after
// attempt only once.
//
// Every connection has its own socket, stop/go events and framing state, so
// ending an old connection never touches a newer one, and the unfinished
// message of a dropped connection is discarded with it. Sockets are shut down (which
// wakes their blocked calls) and closed only when no thread uses them.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/Event.h"
#include "link/MessageFramer.h"

namespace quorvin {

class CChatManager;

// Intervals of the TCP link; tests shorten them.
struct ChatTimings {
    int heartbeatMs = 60000;       // between heartbeat bytes
    int reconnectMs = 500;         // between the supervisor's looks at the link
    int connectTimeoutMs = 20000;  // one connect attempt
    int lookupTimeoutMs = 5000;    // the resolver's wait for each query when the server is a name
    int sendTimeoutMs = 10000;     // a send that makes no progress for this long drops the connection
    // A server that vanished without closing: data it never acknowledges
    // (the next heartbeat at the latest) drops the connection after
    // unackedTimeoutMs, so the loss is noticed within heartbeatMs +
    // unackedTimeoutMs; a connection quiet for keepaliveIdleMs is probed
    // every keepaliveIntervalMs, so the same limit holds with nothing to send.
    int unackedTimeoutMs = 90000;
    int keepaliveIdleMs = 60000;
    int keepaliveIntervalMs = 10000;
};

class CChatSocket {
public:
    CChatSocket(CChatManager& owner, const ChatTimings& timings);
    // Ends every thread of the link before the storage goes.
    ~CChatSocket();
    CChatSocket(const CChatSocket&) = delete;
    CChatSocket& operator=(const CChatSocket&) = delete;

    // Starts a connection attempt at once; a running attempt is superseded
    // and a current connection closed first.
    void StartAttempt();
    // Disconnects a connected link (no further attempts until the next
    // StartAttempt); on a link that is not connected it changes nothing.
    void Disconnect();
    // Sends one framed message on the current connection, or, from a
    // receive thread answering a command, on the connection the command came
    // on (never on a newer one, which may lead to another server). False
    // when there is none or the send failed (the connection is then
    // dropped, since the peer may hold half a frame).
    bool Send(const std::string& frame);
    // Ends every thread; later calls do nothing. The destructor calls it.
    void Close();

    bool IsConnected() const;

private:
    struct Connection;
    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };

    void StartAttemptLocked();
    void Retire(const std::shared_ptr<Connection>& conn);
    // Drops conn; when it was the current connection (not one this side
    // ended), says so on stderr with why.
    void LoseConnection(const std::shared_ptr<Connection>& conn, const std::string& why);
    bool SendOn(const std::shared_ptr<Connection>& conn, const char* data, std::size_t size);
    // Resolves and connects to server:port; false with why on failure.
    bool Dial(const std::string& server, int port, Connection& conn, const std::atomic<bool>& cancel,
              std::string& why) const;
    bool ParseAddress(const std::string& dotted, std::uint32_t& address) const;

    void Spawn(std::function<void()> fn);
    void ReapFinished();
    void JoinAll();

    void SupervisorProc();
    void ConnectProc(std::uint64_t generation, const std::shared_ptr<std::atomic<bool>>& cancel);
    void HeartbeatProc(std::shared_ptr<Connection> conn);
    void ReceiveProc(std::shared_ptr<Connection> conn);
    bool ReceiveOnce(const std::shared_ptr<Connection>& conn, std::string& why);

    // The connection whose command this thread is answering (a receive
    // thread while it dispatches).
    struct Answering {
        const CChatSocket* socket = nullptr;
        std::shared_ptr<Connection> conn;
    };
    static thread_local Answering t_answering;

    CChatManager& m_owner;
    const ChatTimings m_timings;

    // Link state, read by the supervisor and written by every thread.
    mutable std::mutex m_mutex;
    bool m_bConnected = false;
    bool m_bAttemptFinished = false;
    bool m_bClosing = false;
    std::uint64_t m_generation = 0;
    std::shared_ptr<std::atomic<bool>> m_attemptCancel;
    std::shared_ptr<Connection> m_current;
    std::string m_lastConnectFailure;  // said once until it changes or a connection is made

    // One sender at a time, so frames never interleave. Taken before
    // m_mutex where both are held.
    std::mutex m_sendMutex;

    // One receiver at a time: an old connection's receive thread finishes
    // its chunk (and the commands in it) before a new one reads. The
    // pending bytes are each connection's own (Connection::framer).
    std::mutex m_receiveMutex;
    std::vector<char> m_receiveBuffer;

    std::mutex m_workerMutex;
    std::list<Worker> m_workers;

    Event m_supervisorStop;
    Event m_supervisorGo;
    std::thread m_supervisor;  // last: starts once everything above exists
};

}  // namespace quorvin
