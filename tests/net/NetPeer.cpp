// A peer for the socket tests that runs in its own process, written against
// plain blocking WinSock so it shares no code with the component under test.
//   net_peer echo PORT   connect to 127.0.0.1:PORT and echo everything back
//                        until the other side closes; exit code 0 on success
#include <winsock.h>

#include <cstdlib>
#include <cstring>

int main(int argc, char** argv)
{
    if (argc != 3 || std::strcmp(argv[1], "echo") != 0)
        return 2;
    WSADATA data;
    if (WSAStartup(0x0101, &data) != 0)
        return 3;
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<u_short>(std::atoi(argv[2])));
    to.sin_addr.s_addr = inet_addr("127.0.0.1");
    if (s == INVALID_SOCKET || connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0)
        return 4;
    static char buf[65536];
    int rc = 0;
    for (;;) {
        const int n = recv(s, buf, sizeof buf, 0);
        if (n == 0)
            break;
        if (n < 0) {
            rc = 5;
            break;
        }
        for (int done = 0; done < n;) {
            const int m = send(s, buf + done, n - done, 0);
            if (m <= 0)
                return 6;
            done += m;
        }
    }
    closesocket(s);
    WSACleanup();
    return rc;
}
