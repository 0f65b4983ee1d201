// The login action: turns the e-mail address and password of the login dialog into the list of
// the customer's sync accounts, creating a customer or sync account at the service when there is
// none. It talks to the dialogs only through LoginDialogs, so it runs with any front end.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "account/velmora_api.h"
#include "app/settings.h"

namespace bsync {

// One sync account as the service reports it; each text holds at most 255 characters.
struct TSynData {
  std::string OrdNo;
  std::string ServerType;
  std::string ServerHost;
  std::string ServerUser;
  std::string ServerPassword;
};

inline constexpr std::size_t kSynDataMaxChars = 255;

inline constexpr char kDefaultApiHost[] = "api.brindlesync.example";
inline constexpr char kDefaultApiPath[] = "/index.pl";
inline constexpr char kDefaultApiUser[] = "10000.sync";
inline constexpr char kDefaultApiPass[] = "HbqnRtWm8yJd";

// Where the account service is and the program's own login there.
struct ApiAddress {
  std::string ApiHost = kDefaultApiHost;
  std::string ApiPath = kDefaultApiPath;
  std::string ApiUser = kDefaultApiUser;
  std::string ApiPass = kDefaultApiPass;
  int ApiPort = 443;
  TlsOptions Tls;
};

// The built-in address with what the settings file's section "service" overrides.
ApiAddress ApiAddressFrom(const ServiceSettings& service);

// The program state the login action reads and writes (main thread only).
struct LoginState {
  ApiAddress Api;
  int ActivitySphere = 15;
  int ClientVersion = 55;
  int RegWaitMinutes = 5;
  std::string SelectedOrdNo;         // the order number chosen last time
  bool RegistrationPending = false;  // set by the registration dialog
  int AutoLoginSecondsLeft = 10;
  int RegWaitLeft = 0;               // minutes left in the account-creation wait
  std::unique_ptr<TVelmoraApi> ApiClient;  // the client of the latest attempt
  std::vector<TSynData> SyncAccounts;      // filled by each successful sign-in
};

// What the login action needs of the login, registration and selection dialogs. Texts are UTF-8.
class LoginDialogs {
 public:
  virtual ~LoginDialogs() = default;

  // Login dialog.
  virtual std::string LoginEmail() const = 0;
  virtual std::string LoginPassword() const = 0;
  // Hides the auto-login countdown text and stops its one-second timer.
  virtual void StopAutoLoginCountdown() = 0;
  // Disables "Login / Register", shows caption on it and starts the one-minute timer.
  virtual void StartAccountCreationWait(const std::string& caption) = 0;
  virtual void HideLogin() = 0;

  // Registration dialog.
  virtual std::string RegEmail() const = 0;
  virtual std::string RegPassword() const = 0;
  virtual std::string RegFirstName() const = 0;
  virtual std::string RegLastName() const = 0;
  virtual std::string RegSalutation() const = 0;
  virtual void ShowRegistration() = 0;

  // Selection dialog.
  virtual void ClearAccountList() = 0;
  virtual void AddAccountListEntry(const std::string& text) = 0;
  virtual void SelectAccountListEntry(int index) = 0;
  virtual void ShowSelection() = 0;

  // A modal message box with OK.
  virtual void MessageBox(const std::string& text) = 0;
  // A modal confirmation box with OK and Cancel; true for OK.
  virtual bool Confirm(const std::string& text) = 0;
};

// The fixed texts the action shows.
namespace login_text {
inline constexpr char kEmptyEmail[] = "e-mail adress is empty start registration?";
inline constexpr char kCannotConnect[] = "can not connect to server, please try again later";
inline constexpr char kCustomerNotFound[] = "customeraccount not found start registration?";
inline constexpr char kPasswordNotOk[] =
    "password not ok or account disabled, please check your logindata";
inline constexpr char kClientTooOld[] = "your client is to old please update";
inline constexpr char kUnknownErrorPrefix[] = "UNKNOW ERROR : code(";
inline constexpr char kCreationFailed[] =
    "accountcreation failed, please check your data and try again later";
inline constexpr char kWaitCaptionPrefix[] = "accountcreation in process please wait ";
inline constexpr char kNotReady[] = "ERROR account not ready";
}  // namespace login_text

// The caption of the login button during the account-creation wait.
std::string AccountCreationCaption(int minutesLeft);

// The login action of the "Login / Register" button, also run by the end of the auto-login
// countdown, the end of the account-creation wait and the registration dialog.
void btnLoginRegClick(LoginState& state, LoginDialogs& dialogs);

}  // namespace bsync
