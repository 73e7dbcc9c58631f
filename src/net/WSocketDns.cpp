// Asynchronous host-name lookup of TCustomWSocket.
#include "net/WSocket.h"

#include <cstring>

namespace qm {

void TCustomWSocket::DnsLookup(const std::string& HostName)
{
    if (HostName.empty()) {
        const auto alive = Alive();
        RaiseError("DNS lookup: invalid host name.");
        if (alive)
            DoDnsLookupDone(WSAEINVAL); // reached when OnError took the report
        return;
    }
    if (lookupHandle_) {
        WSACancelAsyncRequest(lookupHandle_);
        AbandonLookup();
    }
    dnsResult_.clear();
    dnsResultList_.Clear();
    keptAnswer_.clear();
    if (const auto kept = keptAddresses_.find(HostName); KeepAddresses && kept != keptAddresses_.end()) {
        for (const std::string& a : kept->second)
            dnsResultList_.Add(a);
        dnsResult_ = kept->second.front();
        keptAnswer_ = HostName;
        DoDnsLookupDone(0);
        return;
    }
    if (const u_long addr = inet_addr(HostName.c_str()); addr != INADDR_NONE) {
        in_addr a{};
        a.s_addr = addr;
        dnsResult_ = inet_ntoa(a); // normalised dotted form
        DoDnsLookupDone(0);
        return;
    }
    if (!lookup_)
        lookup_ = std::make_unique<TLookupArea>();
    lookup_->Name = HostName;
    lookupHandle_ = WSAAsyncGetHostByName(window_.get(), WM_SOCKET_LOOKUP, lookup_->Name.c_str(), lookup_->Buffer,
                                          sizeof lookup_->Buffer);
    if (!lookupHandle_)
        RaiseErrorFmt("%s: can't start DNS lookup, error #%d", HostName.c_str(), WSAGetLastError());
}

// The pending lookup no longer counts; its area waits for its notification.
void TCustomWSocket::AbandonLookup()
{
    abandonedLookups_.emplace_back(lookupHandle_, std::move(lookup_));
    lookupHandle_ = nullptr;
}

void TCustomWSocket::HandleLookupNotification(WPARAM WParam, LPARAM LParam)
{
    const auto task = reinterpret_cast<HANDLE>(WParam);
    if (!lookupHandle_ || task != lookupHandle_) {
        // A cancelled lookup has finished writing: its area can go.
        std::erase_if(abandonedLookups_, [task](const auto& a) { return a.first == task; });
        return;
    }
    lookupHandle_ = nullptr;
    const auto error = static_cast<std::uint16_t>(WSAGETASYNCERROR(LParam));
    if (error == 0) {
        const auto* host = reinterpret_cast<const hostent*>(lookup_->Buffer);
        for (char** p = host->h_addr_list; p && *p; ++p) {
            in_addr a{};
            std::memcpy(&a, *p, sizeof a);
            dnsResultList_.Add(inet_ntoa(a));
        }
        if (dnsResultList_.Count() > 0) {
            dnsResult_ = dnsResultList_[0];
            if (KeepAddresses) {
                std::vector<std::string>& kept = keptAddresses_[lookup_->Name];
                kept.clear();
                for (int i = 0; i < dnsResultList_.Count(); ++i)
                    kept.push_back(dnsResultList_[i]);
            }
        }
    }
    DoDnsLookupDone(error);
}

bool TCustomWSocket::ForgetKeptLookup()
{
    if (keptAnswer_.empty())
        return false;
    keptAddresses_.erase(keptAnswer_);
    keptAnswer_.clear();
    return true;
}

void TCustomWSocket::CancelDnsLookup()
{
    if (!lookupHandle_)
        return;
    if (WSACancelAsyncRequest(lookupHandle_) != 0) {
        ReportSocketError("WSACancelAsyncRequest");
        return;
    }
    AbandonLookup();
    if (!destroying_)
        DoDnsLookupDone(WSAEINTR);
}

} // namespace qm
