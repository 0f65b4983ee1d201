// brindlesync-cli accounts: signs in at the account service and lists the customer's sync
// accounts, using the login action without dialogs.
#include <cstdio>
#include <string>

#include "account/login_action.h"
#include "app/settings.h"
#include "cli/commands.h"
#include "platform/paths.h"

namespace bsync::cli {

namespace {

constexpr char kUsage[] =
    "usage: brindlesync-cli accounts --email EMAIL\n"
    "\n"
    "Signs in at the account service with EMAIL and the password in the environment variable\n"
    "BRINDLESYNC_PASSWORD and prints one line per sync account: order number, FTP host and FTP\n"
    "user, separated by tabs. The section \"service\" of the settings file in the profile folder\n"
    "says where the service is. Messages go to stderr; questions are answered Cancel. Exits 0\n"
    "when at least one account came back, 1 otherwise.\n";

// The dialogs of the login action on a terminal: messages on stderr, every question answered
// Cancel, the account-creation wait reported and not waited for.
class TerminalDialogs : public LoginDialogs {
 public:
  TerminalDialogs(std::string email, std::string password)
      : email_(std::move(email)), password_(std::move(password)) {}

  std::string LoginEmail() const override { return email_; }
  std::string LoginPassword() const override { return password_; }
  void StopAutoLoginCountdown() override {}
  void StartAccountCreationWait(const std::string& caption) override {
    std::fprintf(stderr, "%s\nThe sync account is being set up; run the command again later.\n",
                 caption.c_str());
  }
  void HideLogin() override {}
  std::string RegEmail() const override { return {}; }
  std::string RegPassword() const override { return {}; }
  std::string RegFirstName() const override { return {}; }
  std::string RegLastName() const override { return {}; }
  std::string RegSalutation() const override { return {}; }
  void ShowRegistration() override {}
  void ClearAccountList() override {}
  void AddAccountListEntry(const std::string&) override {}
  void SelectAccountListEntry(int) override {}
  void ShowSelection() override {}
  void MessageBox(const std::string& text) override { std::fprintf(stderr, "%s\n", text.c_str()); }
  bool Confirm(const std::string& text) override {
    std::fprintf(stderr, "%s [Cancel]\n", text.c_str());
    return false;
  }

 private:
  std::string email_;
  std::string password_;
};

}  // namespace

int RunAccounts(const Args& args) {
  if (WantsHelp(args)) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (args.size() != 2 || args[0] != "--email") {
    std::fputs(kUsage, stderr);
    return kExitUsage;
  }

  LoginState state;
  state.Api = ApiAddressFrom(LoadServiceSettings(SettingsFilePath(SettingsDirPath())));
  TerminalDialogs dialogs(args[1], GetEnv("BRINDLESYNC_PASSWORD"));
  btnLoginRegClick(state, dialogs);

  for (const TSynData& a : state.SyncAccounts)
    std::printf("%s\t%s\t%s\n", a.OrdNo.c_str(), a.ServerHost.c_str(), a.ServerUser.c_str());
  if (state.SyncAccounts.empty() && state.ApiClient && !state.ApiClient->LastError.empty())
    std::fprintf(stderr, "brindlesync-cli accounts: %s\n", state.ApiClient->LastError.c_str());
  return state.SyncAccounts.empty() ? 1 : 0;
}

}  // namespace bsync::cli
