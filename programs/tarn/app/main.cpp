// The process entry: start-up, the main sequence, the last-resort error report, shutdown.
#include <new>

#include "app/front_end.h"
#include "app/report.h"
#include "app/run_state.h"
#include "common/process.h"
#include "strman/strman.h"
#include "util/simd_mask.h"

namespace tarn::app {
namespace {

// Writes out what the console still holds, then the report on the standard error.
int ReportUncaught(RunState& state, const char* class_name, const std::string& message,
                   const void* address) {
  state.ReleaseFiles();
  try {
    state.console.Flush();
  } catch (const Exception&) {
    state.console.Discard();
  }
  const std::string report =
      FormatReport(class_name, process::ModuleFileName(), process::CodeOffset(address), message);
  process::WriteStderr(process::ToConsoleCodePage(report));
  return kExitFailure;
}

const void* OutOfMemorySite() {
  return reinterpret_cast<const void*>(&ReportUncaught);
}

int Run() {
  RunState state(process::StdoutIsInteractive(), process::WriteStdout);
  int status;
  try {
    status = RunMainSequence(state);
    state.console.Flush();
  } catch (const Exception& e) {
    status = ReportUncaught(state, e.ClassName(), e.Message(), e.Address());
  } catch (const std::bad_alloc&) {
    // Wherever memory ran out, the report names one place, the same from run to run.
    status = ReportUncaught(state, "EOutOfMemory", "Out of memory", OutOfMemorySite());
  }
  state.WipeKey();
  return status;
}

}  // namespace
}  // namespace tarn::app

int main(int argc, char** argv) {
  tarn::process::StartProcess(argc, argv, true);
  // The console's bytes stay as they are: a misspelt processor feature is said on stderr.
  if (const std::string unknown = tarn::util::UnknownSimdNames(); !unknown.empty()) {
    tarn::process::WriteStderr("tarn: TARN_DISABLE_SIMD: no such feature: " + unknown + "\n");
  }
  tarn::StrManStartup();
  const int status = tarn::app::Run();
  tarn::StrManShutdown();
  tarn::process::ExitProcess(status);
}
