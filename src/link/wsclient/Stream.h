// The byte stream under a WebSocket connection: TCP (linux/TcpStream.cpp
// owns every socket call) or TLS over it (openssl/TlsStream.cpp owns every
// OpenSSL call). Reads and writes never block; only Wait does.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "common/Deadline.h"  // RemainingMs

namespace quorvin::wsclient {

using Clock = std::chrono::steady_clock;

enum class Io {
    Ok,          // some bytes moved
    WouldBlock,  // try again after Wait
    Closed,      // the peer ended the stream in order
    Failed,      // a network or protocol error
};

class Stream {
public:
    virtual ~Stream() = default;

    // At least one byte into buf (n set), or no byte and why not.
    virtual Io Read(std::uint8_t* buf, std::size_t size, std::size_t& n) = 0;
    virtual Io Write(const std::uint8_t* data, std::size_t size, std::size_t& n) = 0;
    // Returns once a Read (read) or a Write (write) can make progress,
    // Interrupt() was called (now or since the last wait), or timeoutMs
    // passed (negative: no limit). Spurious returns are allowed.
    virtual void Wait(bool read, bool write, int timeoutMs) = 0;
    // Safe from any thread at any time.
    virtual void Interrupt() = 0;
    // Ends the connection; Wait then sees only Interrupt() and the timeout.
    virtual void Close() = 0;
};

// A TCP connection to host:port: every address of the name, of any family,
// tried in turn, all within deadline. On failure: null, and error holds the
// stderr lines that say why (empty when there is nothing to add).
std::unique_ptr<Stream> OpenTcp(const std::string& host, int port, Clock::time_point deadline, std::string& error);

// TLS over inner, the server's certificate verified against the system's
// store (or the CA file named by QUORVIN_CA_FILE) and host (a name or an
// address). On failure: null, and error holds the stderr line.
std::unique_ptr<Stream> OpenTls(std::unique_ptr<Stream> inner, const std::string& host, Clock::time_point deadline,
                                std::string& error);

}  // namespace quorvin::wsclient
