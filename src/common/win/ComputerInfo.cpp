// Machine identity from the DNS host name and the IP helper's adapter list.
#include "common/ComputerInfo.h"

// clang-format off
#include <winsock2.h>
#include <iphlpapi.h>
// clang-format on

#include <vector>

namespace quorvin {

std::string CComputerInfo::GetHostName() {
    char buf[100] = {};
    DWORD size = sizeof buf - 1;
    if (!GetComputerNameExA(ComputerNameDnsHostname, buf, &size)) return {};
    return buf;
}

int CComputerInfo::GetMacAddress(std::string& out) {
    const ULONG flags = GAA_FLAG_SKIP_UNICAST | GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST |
                        GAA_FLAG_SKIP_DNS_SERVER | GAA_FLAG_SKIP_FRIENDLY_NAME;
    std::vector<unsigned char> buf(16 * 1024);
    ULONG rc = ERROR_BUFFER_OVERFLOW;
    // The list may grow between the call that sizes it and the next one.
    for (int attempt = 0; attempt < 4 && rc == ERROR_BUFFER_OVERFLOW; ++attempt) {
        ULONG size = static_cast<ULONG>(buf.size());
        rc =
            GetAdaptersAddresses(AF_UNSPEC, flags, nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buf.data()), &size);
        if (rc == ERROR_BUFFER_OVERFLOW) buf.resize(size);
    }
    if (rc == ERROR_NO_DATA) return ERROR_NOT_FOUND;
    if (rc != ERROR_SUCCESS) return static_cast<int>(rc);
    for (auto* a = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buf.data()); a != nullptr; a = a->Next) {
        if (a->IfType == IF_TYPE_SOFTWARE_LOOPBACK || a->PhysicalAddressLength != 6) continue;
        bool zero = true;
        for (int i = 0; i < 6; ++i) zero = zero && a->PhysicalAddress[i] == 0;
        if (zero) continue;
        out = FormatMacAddress(a->PhysicalAddress);
        return 0;
    }
    return ERROR_NOT_FOUND;
}

}  // namespace quorvin
