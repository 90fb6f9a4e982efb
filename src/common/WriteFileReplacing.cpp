#include "common/Log.h"
#include "common/Platform.h"
#include "common/ReplacingFile.h"

namespace quorvin::platform {

bool WriteFileReplacing(const std::string& path, const void* data, std::size_t size) {
    ReplacingFile file(path);
    if (file.Write(data, size) && file.Commit()) return true;
    LogFailure("file", file.Error());
    return false;
}

}  // namespace quorvin::platform
