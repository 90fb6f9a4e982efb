#include "link/wsclient/Handshake.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace quorvin::wsclient {

namespace {

constexpr std::size_t kMaxUrl = 512;
constexpr std::size_t kMaxOrigin = 200;
constexpr const char* kKey = "q7Fz0LmW2pXc4TbR9sKd1A==";

}  // namespace

std::string Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int size = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string text(size > 0 ? static_cast<std::size_t>(size) : 0, '\0');
    if (size > 0) std::vsnprintf(text.data(), text.size() + 1, format, again);
    va_end(again);
    return text;
}

std::optional<Target> ParseUrl(const std::string& url, const std::string& origin, std::string& error) {
    if (url.size() >= kMaxUrl) {
        error = Format("ERROR: url size limit exceeded: %s\n", url.c_str());
        return std::nullopt;
    }
    if (origin.size() >= kMaxOrigin) {
        error = Format("ERROR: origin size limit exceeded: %s\n", origin.c_str());
        return std::nullopt;
    }
    Target t;
    const char* rest = nullptr;
    if (url.compare(0, 5, "ws://") == 0) {
        rest = url.c_str() + 5;
        t.port = 80;
    } else if (url.compare(0, 6, "wss://") == 0) {
        rest = url.c_str() + 6;
        t.tls = true;
        t.port = 443;
    }
    // The URL is shorter than these buffers, so no field can overflow them;
    // numbers are read to 9 digits at most, so none overflows int.
    char host[kMaxUrl] = {};
    char path[kMaxUrl] = {};
    int port = 0;
    bool parsed = false;
    if (rest != nullptr) {
        if (std::sscanf(rest, "%511[^:/]:%9d/%511s", host, &port, path) == 3) {
            t.port = port;
            parsed = true;
        } else if (std::sscanf(rest, "%511[^:/]/%511s", host, path) == 2) {
            parsed = true;
        } else if (std::sscanf(rest, "%511[^:/]:%9d", host, &port) == 2) {
            t.port = port;
            path[0] = '\0';
            parsed = true;
        } else if (std::sscanf(rest, "%511[^:/]", host) == 1) {
            path[0] = '\0';
            parsed = true;
        }
    }
    if (!parsed) {
        error = Format("ERROR: Could not parse WebSocket url: %s\n", url.c_str());
        return std::nullopt;
    }
    t.host = host;
    t.path = path;
    return t;
}

std::string RequestText(const Target& target, const std::string& origin) {
    std::string text = "GET /" + target.path + " HTTP/1.1\r\n";
    if (target.port == (target.tls ? 443 : 80))
        text += "Host: " + target.host + "\r\n";
    else
        text += "Host: " + target.host + ":" + std::to_string(target.port) + "\r\n";
    text += "Upgrade: websocket\r\n";
    text += "Connection: Upgrade\r\n";
    if (!origin.empty()) text += "Origin: " + origin + "\r\n";
    text += std::string("Sec-WebSocket-Key: ") + kKey + "\r\n";
    text += "Sec-WebSocket-Version: 13\r\n";
    text += "\r\n";
    return text;
}

ResponseReader::Step ResponseReader::Feed(char byte) {
    if (m_step != Step::More) return m_step;
    m_line[m_length++] = byte;
    const std::size_t n = m_length;
    if (n >= 2 && (n == kMaxLine || m_line[n - 2] == '\r' || m_line[n - 1] == '\n')) m_step = EndOfLine();
    return m_step;
}

ResponseReader::Step ResponseReader::EndOfLine() {
    const std::size_t n = m_length;
    m_line[n] = '\0';
    m_length = 0;
    if (m_statusRead) return m_line[0] == '\r' && m_line[1] == '\n' ? Step::Done : Step::More;
    m_statusRead = true;
    if (n == kMaxLine) {
        m_error = Format("ERROR: Got invalid status line connecting to: %s\n", m_url.c_str());
        return Step::Failed;
    }
    int status = 0;  // 9 digits at most: "HTTP/1.1 4294967397" is no 101
    if (std::sscanf(m_line, "HTTP/1.1 %9d", &status) != 1 || status != 101) {
        m_error = Format("ERROR: Got bad status connecting to %s: %s", m_url.c_str(), m_line);
        return Step::Failed;
    }
    return Step::More;
}

}  // namespace quorvin::wsclient
