// The upgrade answer reader and the URL reader over arbitrary bytes. The
// reader must decide the status line by byte 1023 and explain every
// failure; a URL that parses must give a host and a request that ends
// where a request does.
#include <cstdint>
#include <string>

#include "link/wsclient/Handshake.h"

using namespace quorvin::wsclient;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    ResponseReader reader("ws://h/");
    ResponseReader::Step step = ResponseReader::Step::More;
    std::size_t used = 0;
    bool statusEnded = false;
    while (used < size && step == ResponseReader::Step::More) {
        step = reader.Feed(text[used++]);
        if (used >= 2 && (text[used - 2] == '\r' || text[used - 1] == '\n')) statusEnded = true;
        if (used == ResponseReader::kMaxLine && !statusEnded && step != ResponseReader::Step::Failed) __builtin_trap();
    }
    if ((step == ResponseReader::Step::Failed) == reader.Error().empty()) __builtin_trap();

    // The text split in two: URL and origin.
    const std::size_t cut = size ? data[0] % (size + 1) : 0;
    std::string error;
    const std::string origin = text.substr(cut);
    const auto target = ParseUrl(text.substr(0, cut), origin, error);
    if (!target) {
        if (error.empty()) __builtin_trap();
        return 0;
    }
    if (target->host.empty() || target->host.size() >= 512 ||
        target->path.find_first_of(" \t\r\n") != std::string::npos)
        __builtin_trap();
    const std::string request = RequestText(*target, origin);
    if (request.compare(0, 5, "GET /") != 0 || request.size() < 4 ||
        request.compare(request.size() - 4, 4, "\r\n\r\n") != 0)
        __builtin_trap();
    return 0;
}
