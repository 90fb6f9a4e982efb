// The opening's pure half: reading a ws:// or wss:// URL, the upgrade
// request, and the reader of the server's answer. No system calls, so the
// unit tests and the fuzzer reach every rule.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace quorvin::wsclient {

struct Target {
    bool tls = false;
    std::string host;
    int port = 0;
    std::string path;  // without its leading "/"
};

// The target of url ("ws://host[:port][/path]", port 80, or the same with
// "wss://", port 443), or nothing with the stderr text in error. A URL of
// 512 bytes or more and an origin of 200 or more are refused. The path
// ends at the first white space.
std::optional<Target> ParseUrl(const std::string& url, const std::string& origin, std::string& error);

// The upgrade request, line by line with CRLFs, up to the empty line. The
// Host line names the port unless it is the scheme's own; the Origin line
// is there only when origin is not empty. The key is the fixed one.
std::string RequestText(const Target& target, const std::string& origin);

// Reads the server's answer one byte at a time: the status line, which must
// say "HTTP/1.1 101", then header lines up to an empty one; their content
// is not examined. A line ends after a CR and one more byte, after an LF,
// or at 1023 bytes; a status line that long is refused.
class ResponseReader {
public:
    enum class Step { More, Done, Failed };

    explicit ResponseReader(std::string url) : m_url(std::move(url)) {}

    Step Feed(char byte);
    // The stderr text once Feed answered Failed.
    const std::string& Error() const { return m_error; }

    static constexpr std::size_t kMaxLine = 1023;

private:
    Step EndOfLine();

    std::string m_url;
    char m_line[kMaxLine + 1] = {};
    std::size_t m_length = 0;
    bool m_statusRead = false;
    Step m_step = Step::More;
    std::string m_error;
};

// printf into a std::string, for the stderr texts.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace quorvin::wsclient
