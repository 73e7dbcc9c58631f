// Where a download run's time goes, file by file: a clock that charges the
// time between events to the phase the run is in. The run's own steps
// (TDownloadRun::OnStep), the client's states and the window's calls (the
// observer, wrapped) move it from phase to phase; a window call is charged
// to the window and the clock then returns to the phase it interrupted.
//
// Call order: Attach(Run) before Start is pressed (it wraps the run's
// observer and the client's state handler, which must be bound already),
// then Stop() once the run has ended; the figures are read afterwards. The
// run and the clock must outlive the run's Execute; both live on the GUI
// thread.
#pragma once

#include "app/DownloadRun.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <string>

namespace qmbench {

enum class TPhase : std::uint8_t {
    Lookup,    // the name lookup (hsDnsLookup)
    Connect,   // the request's start and the TCP connect
    Answer,    // the request sent, the head and the body received
    Focus,     // the window's work for a new row: focus, keys, repaint
    Status,    // the window's status word
    Progress,  // the window's byte count and bar
    Window,    // the window's other work: the list, a row's image
    Temporary, // creating the download's temporary
    Check,     // closing it, its length and hash checks
    Rename,    // the download taking its name
    Place,     // decoding or copying the target, putting it in place
    Log,       // the log's lines
    Other,     // between them: the loop itself
};
inline constexpr std::size_t PhaseCount = 13;
const char* PhaseName(TPhase Phase);

class TPhaseClock final : private qm::TRunObserver {
public:
    void Attach(qm::TDownloadRun& Run);
    void Stop() { Switch(TPhase::Other); }

    double Seconds(TPhase Phase) const { return seconds_[static_cast<std::size_t>(Phase)]; }
    long Files() const { return files_; }
    double PrivatePeak() const { return privatePeak_; } // MB of private bytes, sampled every 64 rows

private:
    using TClock = std::chrono::steady_clock;
    void Switch(TPhase Phase);
    // Runs Call charged to Phase, then returns to the phase before.
    template <class F>
    void InWindow(TPhase Phase, F Call);

    void ListLoaded(const std::vector<qm::TRow>& Rows) override;
    void RowStarted(int Index, std::int32_t Size) override;
    void Progress(std::int64_t Bytes, bool Final) override;
    void StatusWord(const std::string& Text) override;
    void RowPlaced(int Index) override;
    void ProcessMessages() override;
    void CheckStarted(std::int64_t Bytes) override;

    qm::TRunObserver* inner_ = nullptr;
    TClock::time_point last_ = TClock::now();
    TPhase phase_ = TPhase::Other;
    std::array<double, PhaseCount> seconds_{};
    long files_ = 0;
    double privatePeak_ = 0;
};

// The private bytes of this process, in MB.
double PrivateMegabytes();

} // namespace qmbench
