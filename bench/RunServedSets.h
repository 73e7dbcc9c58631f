// bench_run --served: the run against sets a server in another process
// serves (run-small-bench.sh packs them with qmpack and serves them with
// nginx), one run per set in a fresh folder, with the phases of its files.
//
// Prints one line per set:
//   run BASEURL FILES SECONDS CPU PEAK_MB MESSAGES PAINTS PHASE=MS...
// the wall clock from Start to "Transfer finished.", the main thread's CPU
// time, the most private bytes seen, the messages and paint messages
// dispatched, and per phase (RunPhases.h) its milliseconds per file.
// Raises when a run does not end with "Transfer finished.".
#pragma once

#include <string>
#include <vector>

namespace qmbench {

void RunServedSets(const std::string& Folder, const std::vector<std::string>& BaseUrls);

} // namespace qmbench
