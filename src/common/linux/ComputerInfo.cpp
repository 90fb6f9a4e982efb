// Machine identity from gethostname and getifaddrs.
#include "common/ComputerInfo.h"

#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

namespace quorvin {

std::string CComputerInfo::GetHostName() {
    char buf[100] = {};
    if (gethostname(buf, sizeof buf - 1) != 0) return {};
    return buf;
}

int CComputerInfo::GetMacAddress(std::string& out) {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return errno != 0 ? errno : 1;
    std::unique_ptr<ifaddrs, void (*)(ifaddrs*)> owner(list, freeifaddrs);
    for (const ifaddrs* ifa = list; ifa != nullptr; ifa = ifa->ifa_next) {
        if (ifa->ifa_addr == nullptr || ifa->ifa_addr->sa_family != AF_PACKET) continue;
        if (ifa->ifa_flags & IFF_LOOPBACK) continue;
        const auto* ll = reinterpret_cast<const sockaddr_ll*>(ifa->ifa_addr);
        if (ll->sll_halen != 6) continue;
        bool zero = true;
        for (int i = 0; i < 6; ++i) zero = zero && ll->sll_addr[i] == 0;
        if (zero) continue;
        out = FormatMacAddress(ll->sll_addr);
        return 0;
    }
    return ENODEV;
}

}  // namespace quorvin
