#include "http/win/MultipartBody.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>

namespace quorvin::http {
namespace {

// Quotes and line ends would end the header value early.
std::string QuotedValue(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '"') {
            out += "%22";
        } else if (c == '\r') {
            out += "%0D";
        } else if (c == '\n') {
            out += "%0A";
        } else {
            out += c;
        }
    }
    return out;
}

std::string NewBoundary() {
    std::random_device random;
    char text[64];
    std::snprintf(text, sizeof text, "------------------------%08x%08x", static_cast<unsigned>(random()),
                  static_cast<unsigned>(random()));
    return text;
}

bool ReadFile(const std::string& path, std::string& out, std::size_t room) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    if (size < 0 || static_cast<std::uint64_t>(size) > room) return false;
    in.seekg(0, std::ios::beg);
    out.assign(static_cast<std::size_t>(size), '\0');
    return static_cast<bool>(in.read(out.data(), size));
}

}  // namespace

bool BuildMultipartBody(const std::vector<MultipartField>& fields, MultipartBody& body, std::string& why) {
    const std::string boundary = NewBoundary();
    std::string out;
    for (const MultipartField& field : fields) {
        out += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + QuotedValue(field.name) + "\"";
        if (field.data != nullptr) {
            out += "\r\n\r\n";
            out.append(static_cast<const char*>(field.data), field.length);
        } else if (field.isFile) {
            // The file name travels as the caller gave it.
            out += "; filename=\"" + QuotedValue(field.value) + "\"\r\nContent-Type: application/octet-stream\r\n\r\n";
            std::string content;
            if (!ReadFile(field.value, content, kMaxBodyBytes - std::min(out.size(), kMaxBodyBytes))) {
                why = "a multipart field could not be read";
                return false;
            }
            out += content;
        } else {
            out += "\r\n\r\n" + field.value;
        }
        out += "\r\n";
        if (out.size() > kMaxBodyBytes) {
            why = "the multipart body is larger than the limit of " + std::to_string(kMaxBodyBytes) + " bytes";
            return false;
        }
    }
    out += "--" + boundary + "--\r\n";
    body.contentType = "multipart/form-data; boundary=" + boundary;
    body.bytes = std::move(out);
    return true;
}

}  // namespace quorvin::http
