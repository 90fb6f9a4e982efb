// CComputerInfo: the two machine facts the default client identity comes from.
#pragma once

#include <cstdint>
#include <string>

namespace quorvin {

class CComputerInfo {
public:
    // Host name (at most 99 bytes); empty when it cannot be read.
    static std::string GetHostName();
    // Hardware address of the first non-loopback adapter that has a non-zero
    // one, as "00-50-56-C0-00-08". 0 on success with out filled; otherwise a
    // non-zero code and out untouched.
    static int GetMacAddress(std::string& out);
    static std::string FormatMacAddress(const std::uint8_t address[6]);
};

}  // namespace quorvin
