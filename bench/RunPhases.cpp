// The phase clock of a download run (RunPhases.h).
#include "RunPhases.h"

#include <windows.h>
#include <psapi.h>

#include <algorithm>

namespace qmbench {

const char* PhaseName(TPhase Phase)
{
    static constexpr const char* names[PhaseCount] = {"lookup", "connect",   "answer", "focus",  "status",
                                                      "progress", "window", "temporary", "check", "rename",
                                                      "place",  "log",     "other"};
    return names[static_cast<std::size_t>(Phase)];
}

double PrivateMegabytes()
{
    PROCESS_MEMORY_COUNTERS pmc{};
    pmc.cb = sizeof pmc;
    return GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof pmc) ? static_cast<double>(pmc.PagefileUsage) / 1048576.0
                                                                        : 0;
}

void TPhaseClock::Attach(qm::TDownloadRun& Run)
{
    inner_ = Run.Observer;
    Run.Observer = this;
    Run.OnStep = [this](qm::TRunStep Step) {
        static constexpr TPhase phases[] = {TPhase::Temporary, TPhase::Answer, TPhase::Check,
                                            TPhase::Rename,    TPhase::Place,  TPhase::Log};
        Switch(phases[static_cast<std::size_t>(Step)]);
    };
    // The request's own phase is known before the window hears of the state.
    Run.HttpCli1.OnStateChange = [this, inner = Run.HttpCli1.OnStateChange](qm::THttpCli& Client) {
        const qm::THttpCliState state = Client.State();
        Switch(state == qm::hsDnsLookup    ? TPhase::Lookup
               : state == qm::hsConnecting ? TPhase::Connect
                                           : TPhase::Answer);
        if (inner)
            inner(Client);
    };
    privatePeak_ = PrivateMegabytes();
    last_ = TClock::now();
    phase_ = TPhase::Other;
}

void TPhaseClock::Switch(TPhase Phase)
{
    const TClock::time_point now = TClock::now();
    seconds_[static_cast<std::size_t>(phase_)] += std::chrono::duration<double>(now - last_).count();
    last_ = now;
    phase_ = Phase;
}

template <class F>
void TPhaseClock::InWindow(TPhase Phase, F Call)
{
    const TPhase before = phase_;
    Switch(Phase);
    Call();
    Switch(before);
}

void TPhaseClock::ListLoaded(const std::vector<qm::TRow>& Rows)
{
    InWindow(TPhase::Window, [&] { inner_->ListLoaded(Rows); });
}

void TPhaseClock::RowStarted(int Index, std::int32_t Size)
{
    if (++files_ % 64 == 0)
        privatePeak_ = std::max(privatePeak_, PrivateMegabytes());
    InWindow(TPhase::Focus, [&] { inner_->RowStarted(Index, Size); });
    Switch(TPhase::Other);
}

void TPhaseClock::Progress(std::int64_t Bytes, bool Final)
{
    InWindow(TPhase::Progress, [&] { inner_->Progress(Bytes, Final); });
}

void TPhaseClock::StatusWord(const std::string& Text)
{
    InWindow(TPhase::Status, [&] { inner_->StatusWord(Text); });
}

void TPhaseClock::RowPlaced(int Index)
{
    InWindow(TPhase::Window, [&] { inner_->RowPlaced(Index); });
}

void TPhaseClock::ProcessMessages()
{
    InWindow(TPhase::Window, [&] { inner_->ProcessMessages(); });
}

void TPhaseClock::CheckStarted(std::int64_t Bytes)
{
    InWindow(TPhase::Other, [&] { inner_->CheckStarted(Bytes); });
}

} // namespace qmbench
