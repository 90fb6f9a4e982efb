#include "link/MessageFramer.h"

#include <cstring>

namespace quorvin {

void MessageFramer::Feed(const char* data, std::size_t size, const std::function<void(const std::string&)>& onMessage,
                         const std::function<void()>& onDropped) {
    std::size_t start = 0;
    while (start < size) {
        const void* hit = std::memchr(data + start, kDelimiter, size - start);
        const std::size_t end = hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - data) : size;
        const std::size_t length = end - start;
        if (!m_dropping) {
            if (m_pending.size() + length > m_max) {
                m_dropping = true;
                std::string().swap(m_pending);  // give the memory back at once
                onDropped();
            } else {
                m_pending.append(data + start, length);
            }
        }
        if (hit == nullptr) break;
        if (m_dropping) {
            m_dropping = false;  // the oversized message ends here
        } else {
            std::string message;
            message.swap(m_pending);
            const std::size_t zero = message.find('\0');
            if (zero != std::string::npos) message.resize(zero);
            onMessage(message);
        }
        start = end + 1;
    }
}

}  // namespace quorvin
