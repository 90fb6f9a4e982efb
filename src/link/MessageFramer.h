// MessageFramer: cuts the TCP link's byte stream into messages at the
// delimiter 0xFE. Bytes after the last delimiter stay pending for the next
// chunk. One framer per connection: a new connection starts with none
// pending. A message longer than the limit is dropped up to its delimiter,
// so the stream stays in step.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace quorvin {

class MessageFramer {
public:
    static constexpr unsigned char kDelimiter = 0xFE;
    static constexpr std::size_t kMaxMessage = std::size_t{16} * 1024 * 1024;

    explicit MessageFramer(std::size_t maxMessage = kMaxMessage) : m_max(maxMessage) {}

    // Scans one received chunk: onMessage gets each complete message in
    // order (its text ends at its first zero byte), onDropped is called
    // once for each message over the limit.
    void Feed(const char* data, std::size_t size, const std::function<void(const std::string&)>& onMessage,
              const std::function<void()>& onDropped);

    std::size_t PendingSize() const { return m_pending.size(); }

private:
    std::size_t m_max;
    std::string m_pending;
    bool m_dropping = false;
};

}  // namespace quorvin
