// A multipart/form-data body built in memory, for transfer layers that
// send a body from a buffer.
#pragma once

#include <string>
#include <vector>

#include "http/Transfer.h"

namespace quorvin::http {

struct MultipartBody {
    std::string contentType;  // "multipart/form-data; boundary=..."
    std::string bytes;
};

// False (with why) when a file field cannot be read whole or the body would
// pass kMaxBodyBytes; nothing is sent then rather than an empty part.
bool BuildMultipartBody(const std::vector<MultipartField>& fields, MultipartBody& body, std::string& why);

}  // namespace quorvin::http
