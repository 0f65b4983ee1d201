// brindlesync-cli sync: one sync run from a terminal, a script or a timer.
#include <csignal>
#include <cstdio>
#include <ctime>
#include <atomic>
#include <thread>

#include "app/ini_file.h"
#include "app/settings.h"
#include "cli/commands.h"
#include "platform/paths.h"
#include "sync/sync_run.h"

namespace bsync::cli {
namespace {

constexpr char kUsage[] =
    "usage: brindlesync-cli sync --host HOST [--port PORT] --user USER\n"
    "\n"
    "Runs one sync of <profile>/brindlesync with the folder \"/files\" of the FTP account,\n"
    "exactly as the desktop program's run does. The password is read from the environment\n"
    "variable BRINDLESYNC_FTP_PASSWORD. <profile> is USERPROFILE, else HOME.\n"
    "Without --port: \"ftp_port\" of section [service] in <profile>/bsc/bsc.ini, else 21.\n"
    "\n"
    "Prints each status text on its own line. Exit status: 0 normal end, 2 run aborted,\n"
    "1 unexpected error (its message is the last line), 130 stopped by SIGINT or SIGTERM.\n";

// Every status text on its own line as it is shown.
class StdoutObserver : public Observer {
 public:
  void ShowStatus(const std::string& text) override {
    std::fprintf(stdout, "%s\n", text.c_str());
    std::fflush(stdout);
  }
  void CountAction() override {}
};

int Usage() {
  std::fputs(kUsage, stderr);
  return kExitUsage;
}

}  // namespace

int RunSync(const Args& args) {
  if (WantsHelp(args)) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  std::string host, port, user;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (i + 1 >= args.size()) return Usage();
    if (a == "--host")
      host = args[++i];
    else if (a == "--port")
      port = args[++i];
    else if (a == "--user")
      user = args[++i];
    else
      return Usage();
  }
  if (host.empty() || user.empty()) return Usage();

  RunConfig config;
  config.settingsDir = SettingsDirPath();
  config.syncDir = SyncDirPath();
  config.programDir = ExecutableDir();
  config.ftpHost = host;
  config.ftpUser = user;
  config.ftpPassword = GetEnv("BRINDLESYNC_FTP_PASSWORD");
  const auto settingsFile = SettingsFilePath(config.settingsDir);
  if (port.empty()) {
    const auto service = LoadServiceSettings(settingsFile);
    port = std::to_string(service.ftpPort.value_or(21));
  }
  config.ftpPort = port;
  config.cuid = IniFile(settingsFile).ReadString(kMainSection, "cuid", "");

  // SIGINT and SIGTERM are taken by sigtimedwait below, never by a handler, so the run thread is
  // stopped from an ordinary thread.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  StdoutObserver observer;
  RunShared shared;
  tsync run(config, shared, observer);
  std::atomic<bool> done{false};
  RunResult result;
  std::thread thread([&] {
    result = run.Execute();
    done = true;
  });
  bool stopped = false;
  while (!done) {
    const timespec tick{0, 100 * 1000 * 1000};
    if (sigtimedwait(&stopSignals, nullptr, &tick) > 0) {
      run.Stop();
      stopped = true;
      break;
    }
  }
  thread.join();
  if (stopped || result.outcome == RunOutcome::Stopped) return 130;
  switch (result.outcome) {
    case RunOutcome::Finished:
      return 0;
    case RunOutcome::Aborted:
      return 2;
    default:
      return 1;
  }
}

}  // namespace bsync::cli
