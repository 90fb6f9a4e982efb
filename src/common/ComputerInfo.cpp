#include "common/ComputerInfo.h"

#include <cstdio>

namespace quorvin {

std::string CComputerInfo::FormatMacAddress(const std::uint8_t a[6]) {
    char buf[18];
    std::snprintf(buf, sizeof buf, "%02X-%02X-%02X-%02X-%02X-%02X", a[0], a[1], a[2], a[3], a[4], a[5]);
    return buf;
}

}  // namespace quorvin
