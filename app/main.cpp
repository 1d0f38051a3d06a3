// The process entry: start-up, the main sequence, the last-resort error report, shutdown.
#include <new>

#include "app/front_end.h"
#include "app/report.h"
#include "app/run_state.h"
#include "platform/platform.h"
#include "strman/strman.h"

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
      FormatReport(class_name, platform::ModuleFileName(), platform::CodeOffset(address), message);
  platform::WriteStderr(platform::ToConsoleCodePage(report));
  return kExitFailure;
}

int Run() {
  RunState state(platform::StdoutIsInteractive(), platform::WriteStdout);
  try {
    const int status = RunMainSequence(state);
    state.console.Flush();
    return status;
  } catch (const Exception& e) {
    return ReportUncaught(state, e.ClassName(), e.Message(), e.Address());
  } catch (const std::bad_alloc&) {
    return ReportUncaught(state, "EOutOfMemory", "Out of memory", nullptr);
  }
}

}  // namespace
}  // namespace tarn::app

int main(int argc, char** argv) {
  tarn::platform::StartProcess(argc, argv);
  tarn::StrManStartup();
  const int status = tarn::app::Run();
  tarn::StrManShutdown();
  tarn::platform::ExitProcess(status);
}
