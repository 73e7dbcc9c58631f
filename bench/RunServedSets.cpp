// bench_run --served (RunServedSets.h).
#include "RunServedSets.h"

#include "BenchStats.h"
#include "RunPhases.h"

#include "app/Loader.h"
#include "base/ExtraStr.h"
#include "ui/Application.h"
#include "ui/MessageBox.h"

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <stdexcept>

namespace qmbench {
namespace {

struct TServedRun {
    double Seconds = 0, Cpu = 0;
    long Messages = 0, Paints = 0;
};

// One run of the set at BaseUrl with the current directory as its start
// folder, timed by Clock.
TServedRun TimeServedRun(const std::string& BaseUrl, TPhaseClock& Clock)
{
    std::vector<std::string> shown;
    TServedRun result;
    const auto start = std::chrono::steady_clock::now();
    const double cpu = ThreadCpuSeconds();
    const qm::ui::TMessageBoxSeam boxes([&](HWND, const std::string& Text, const std::string&, UINT) {
        if (Text == "Transfer finished.") {
            result.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            result.Cpu = ThreadCpuSeconds() - cpu;
        }
        shown.push_back(Text);
        return IDOK;
    });
    qm::TaForm form(qm::ScrambleText(BaseUrl));
    form.Show();
    qm::ui::Application().ProcessMessages();
    Clock.Attach(form.Run);
    const qm::ui::TMessageHookGuard counting([&result](MSG& Msg) {
        ++result.Messages;
        result.Paints += Msg.message == WM_PAINT ? 1 : 0;
        return false;
    });
    form.SBStart.Click();
    Clock.Stop();
    if (shown != std::vector<std::string>{"Transfer finished."})
        throw std::runtime_error("the run of " + BaseUrl + " did not end with \"Transfer finished.\"" +
                                 (shown.empty() ? "" : ": " + shown.front()));
    return result;
}

} // namespace

void RunServedSets(const std::string& Folder, const std::vector<std::string>& BaseUrls)
{
    char saved[MAX_PATH] = {};
    GetCurrentDirectoryA(MAX_PATH, saved);
    for (const std::string& url : BaseUrls) {
        const std::string dir = Folder + "\\qmr" + std::to_string(GetCurrentProcessId());
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
        SetCurrentDirectoryA(dir.c_str());
        TPhaseClock clock;
        const TServedRun run = TimeServedRun(url, clock);
        SetCurrentDirectoryA(saved);
        std::filesystem::remove_all(dir);
        const double files = static_cast<double>(std::max(clock.Files(), 1L));
        std::printf("run %s %ld %.3f %.3f %.1f %ld %ld", url.c_str(), clock.Files(), run.Seconds, run.Cpu,
                    clock.PrivatePeak(), run.Messages, run.Paints);
        for (std::size_t p = 0; p < PhaseCount; ++p)
            std::printf(" %s=%.3f", PhaseName(static_cast<TPhase>(p)),
                        clock.Seconds(static_cast<TPhase>(p)) * 1000 / files);
        std::printf("\n");
        std::fflush(stdout);
    }
}

} // namespace qmbench
