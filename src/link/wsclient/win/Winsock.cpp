#include "link/wsclient/win/Winsock.h"

#include <winsock2.h>

namespace quorvin {

bool WinsockReady() {
    struct Session {
        bool ok = false;
        Session() {
            WSADATA data;
            ok = WSAStartup(MAKEWORD(2, 2), &data) == 0;
        }
        ~Session() {
            if (ok) WSACleanup();
        }
    };
    static const Session session;
    return session.ok;
}

}  // namespace quorvin
