// Asynchronous host-name lookup of TCustomWSocket.
#include "net/WSocket.h"

#include <cstring>

namespace qm {

void TCustomWSocket::DnsLookup(const std::string& HostName)
{
    if (HostName.empty()) {
        RaiseError("DNS lookup: invalid host name.");
        DoDnsLookupDone(WSAEINVAL); // reached when OnError took the report
        return;
    }
    if (lookupHandle_)
        WSACancelAsyncRequest(lookupHandle_);
    lookupHandle_ = nullptr;
    dnsResult_.clear();
    dnsResultList_.Clear();
    if (const u_long addr = inet_addr(HostName.c_str()); addr != INADDR_NONE) {
        in_addr a{};
        a.s_addr = addr;
        dnsResult_ = inet_ntoa(a); // normalised dotted form
        DoDnsLookupDone(0);
        return;
    }
    // The name must outlive the request.
    lookupName_ = HostName;
    lookupHandle_ = WSAAsyncGetHostByName(window_.get(), WM_SOCKET_LOOKUP, lookupName_.c_str(), lookupBuffer_,
                                          sizeof lookupBuffer_);
    if (!lookupHandle_)
        RaiseErrorFmt("%s: can't start DNS lookup, error #%d", HostName.c_str(), WSAGetLastError());
}

void TCustomWSocket::HandleLookupNotification(WPARAM WParam, LPARAM LParam)
{
    if (!lookupHandle_ || reinterpret_cast<HANDLE>(WParam) != lookupHandle_)
        return;
    lookupHandle_ = nullptr;
    const auto error = static_cast<std::uint16_t>(WSAGETASYNCERROR(LParam));
    if (error == 0) {
        const auto* host = reinterpret_cast<const hostent*>(lookupBuffer_);
        for (char** p = host->h_addr_list; p && *p; ++p) {
            in_addr a{};
            std::memcpy(&a, *p, sizeof a);
            dnsResultList_.Add(inet_ntoa(a));
        }
        if (dnsResultList_.Count() > 0)
            dnsResult_ = dnsResultList_[0];
    }
    DoDnsLookupDone(error);
}

void TCustomWSocket::CancelDnsLookup()
{
    if (!lookupHandle_)
        return;
    if (WSACancelAsyncRequest(lookupHandle_) != 0) {
        ReportSocketError("WSACancelAsyncRequest");
        return;
    }
    lookupHandle_ = nullptr;
    if (!destroying_)
        DoDnsLookupDone(WSAEINTR);
}

} // namespace qm
