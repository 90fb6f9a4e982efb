// WebSocket frames (RFC 6455 section 5): the encoder for what this side
// sends and the incremental parser for what arrives. Pure logic: bytes in,
// bytes or events out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "link/wsclient/WebSocket.h"

namespace quorvin::wsclient {

enum Opcode : std::uint8_t { kContinuation = 0, kText = 1, kBinary = 2, kClose = 8, kPing = 9, kPong = 10 };

// Appends one final (FIN) frame to out: the shortest length form, and the
// payload masked with key when key is not null.
void AppendFrame(std::vector<std::uint8_t>& out, std::uint8_t opcode, const std::uint8_t* payload, std::size_t size,
                 const std::uint8_t* key);

// Fresh masking keys, drawn from the system's random source a pool at a
// time so a frame costs no system call.
class MaskKeys {
public:
    using Source = bool (*)(std::uint8_t*, std::size_t);
    explicit MaskKeys(Source source);
    // False when the source has no random bytes to give.
    bool Next(std::uint8_t key[4]);

private:
    Source m_source;
    std::uint8_t m_pool[256];
    std::size_t m_used = sizeof m_pool;
};

enum class FrameError {
    Unexpected,  // an unknown opcode, or a control frame that is fragmented or over 125 bytes
    BadLength,   // a 64-bit length with its top bit set
    TooBig,      // a frame or joined message over the limit
};

class FrameSink {
public:
    virtual ~FrameSink() = default;
    virtual void OnMessage(std::vector<std::uint8_t>&& message) = 0;
    virtual void OnPing(const std::vector<std::uint8_t>& payload) = 0;
    virtual void OnClose() = 0;
    virtual void OnError(FrameError error) = 0;
};

// Takes the received byte stream in pieces of any size. Data frames are
// joined into messages as their bytes arrive (unmasked when masked), so a
// message is held once; a length over the limit is refused as soon as its
// header is complete, before any of its payload is kept. Pongs are
// ignored. After BadLength or TooBig nothing more is parsed; after
// Unexpected the frame is skipped and parsing goes on.
class FrameParser {
public:
    explicit FrameParser(std::size_t maxMessageBytes = kMaxMessageBytes) : m_max(maxMessageBytes) {}

    void Feed(const std::uint8_t* data, std::size_t size, FrameSink& sink);
    bool Broken() const { return m_broken; }
    // Bytes held for a message or frame not yet complete.
    std::size_t Held() const { return m_headerSize + m_message.size() + m_control.size(); }

private:
    enum class Into { Message, Control, Nothing };

    void BeginFrame(FrameSink& sink);
    void EndFrame(FrameSink& sink);

    std::size_t m_max;
    bool m_broken = false;
    // The header being read: 2 to 14 bytes.
    std::uint8_t m_header[14] = {};
    std::size_t m_headerSize = 0;
    // The frame whose payload is being read.
    bool m_inPayload = false;
    std::uint8_t m_opcode = 0;
    bool m_fin = false;
    bool m_masked = false;
    std::uint8_t m_key[4] = {};
    std::uint64_t m_remaining = 0;
    std::uint64_t m_offset = 0;
    Into m_into = Into::Nothing;
    std::vector<std::uint8_t> m_message;
    std::vector<std::uint8_t> m_control;
};

}  // namespace quorvin::wsclient
