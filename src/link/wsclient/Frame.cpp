#include "link/wsclient/Frame.h"

#include <algorithm>
#include <cstring>

namespace quorvin::wsclient {

namespace {

constexpr std::size_t kMaxControlPayload = 125;

// Header bytes implied by the first two.
std::size_t HeaderSize(std::uint8_t b1) {
    const std::uint8_t n0 = b1 & 0x7F;
    return 2 + (n0 == 126 ? 2 : n0 == 127 ? 8 : 0) + ((b1 & 0x80) ? 4 : 0);
}

void Unmask(std::uint8_t* data, std::size_t size, const std::uint8_t key[4], std::uint64_t offset) {
    for (std::size_t i = 0; i < size; ++i) data[i] ^= key[(offset + i) & 3];
}

}  // namespace

void AppendFrame(std::vector<std::uint8_t>& out, std::uint8_t opcode, const std::uint8_t* payload, std::size_t size,
                 const std::uint8_t* key) {
    const std::uint8_t maskBit = key != nullptr ? 0x80 : 0;
    out.push_back(static_cast<std::uint8_t>(0x80 | opcode));
    if (size < 126) {
        out.push_back(static_cast<std::uint8_t>(maskBit | size));
    } else if (size < 65536) {
        out.push_back(maskBit | 126);
        out.push_back(static_cast<std::uint8_t>(size >> 8));
        out.push_back(static_cast<std::uint8_t>(size));
    } else {
        out.push_back(maskBit | 127);
        for (int shift = 56; shift >= 0; shift -= 8)
            out.push_back(static_cast<std::uint8_t>(static_cast<std::uint64_t>(size) >> shift));
    }
    if (key != nullptr) out.insert(out.end(), key, key + 4);
    const std::size_t start = out.size();
    if (size > 0) out.insert(out.end(), payload, payload + size);
    if (key != nullptr) Unmask(out.data() + start, size, key, 0);
}

MaskKeys::MaskKeys(Source source) : m_source(source) {}

bool MaskKeys::Next(std::uint8_t key[4]) {
    if (m_used + 4 > sizeof m_pool) {
        if (!m_source(m_pool, sizeof m_pool)) return false;
        m_used = 0;
    }
    std::memcpy(key, m_pool + m_used, 4);
    m_used += 4;
    return true;
}

void FrameParser::Feed(const std::uint8_t* data, std::size_t size, FrameSink& sink) {
    while (size > 0 && !m_broken) {
        if (!m_inPayload) {
            const std::size_t want = m_headerSize < 2 ? 2 : HeaderSize(m_header[1]);
            const std::size_t take = std::min(want - m_headerSize, size);
            std::memcpy(m_header + m_headerSize, data, take);
            m_headerSize += take;
            data += take;
            size -= take;
            if (m_headerSize == HeaderSize(m_header[1])) BeginFrame(sink);
            continue;
        }
        const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(m_remaining, size));
        std::vector<std::uint8_t>* into = m_into == Into::Message   ? &m_message
                                          : m_into == Into::Control ? &m_control
                                                                    : nullptr;
        if (into != nullptr) {
            into->insert(into->end(), data, data + take);
            if (m_masked) Unmask(into->data() + into->size() - take, take, m_key, m_offset);
        }
        m_offset += take;
        m_remaining -= take;
        data += take;
        size -= take;
        if (m_remaining == 0) EndFrame(sink);
    }
}

void FrameParser::BeginFrame(FrameSink& sink) {
    const std::uint8_t* h = m_header;
    m_fin = (h[0] & 0x80) != 0;
    m_opcode = h[0] & 0x0F;
    m_masked = (h[1] & 0x80) != 0;
    const std::uint8_t n0 = h[1] & 0x7F;
    std::uint64_t length = n0;
    std::size_t keyAt = 2;
    if (n0 == 126) {
        length = (std::uint64_t{h[2]} << 8) | h[3];
        keyAt = 4;
    } else if (n0 == 127) {
        length = 0;
        for (int i = 2; i < 10; ++i) length = (length << 8) | h[i];
        keyAt = 10;
    }
    m_headerSize = 0;
    if (length >> 63) {
        m_broken = true;
        sink.OnError(FrameError::BadLength);
        return;
    }
    if (m_masked) std::memcpy(m_key, h + keyAt, 4);
    m_remaining = length;
    m_offset = 0;
    m_inPayload = true;
    switch (m_opcode) {
        case kContinuation:
        case kText:
        case kBinary:
            if (length > m_max - m_message.size()) {  // the message so far never exceeds m_max
                m_broken = true;
                m_inPayload = false;
                std::vector<std::uint8_t>().swap(m_message);
                sink.OnError(FrameError::TooBig);
                return;
            }
            m_into = Into::Message;
            break;
        case kClose:
        case kPing:
        case kPong:
            if (!m_fin || length > kMaxControlPayload) {
                m_into = Into::Nothing;
                sink.OnError(FrameError::Unexpected);
            } else {
                m_into = Into::Control;
                m_control.clear();
            }
            break;
        default:
            m_into = Into::Nothing;
            sink.OnError(FrameError::Unexpected);
            break;
    }
    if (m_remaining == 0) EndFrame(sink);
}

void FrameParser::EndFrame(FrameSink& sink) {
    m_inPayload = false;
    if (m_into == Into::Message) {
        if (m_fin) {
            std::vector<std::uint8_t> message;
            message.swap(m_message);  // leaves the buffer empty, its storage released
            sink.OnMessage(std::move(message));
        }
        return;
    }
    if (m_into == Into::Nothing) return;
    if (m_opcode == kPing) sink.OnPing(m_control);
    if (m_opcode == kClose) sink.OnClose();
    m_control.clear();
}

}  // namespace quorvin::wsclient
