#include "account/login_action.h"

#include "account/xml_text.h"

namespace bsync {

ApiAddress ApiAddressFrom(const ServiceSettings& service) {
  ApiAddress a;
  if (service.apiHost) a.ApiHost = *service.apiHost;
  if (service.apiPath) a.ApiPath = *service.apiPath;
  a.ApiPort = service.apiPort;
  a.Tls.verify = service.tlsVerify;
  a.Tls.caFile = service.caFile;
  return a;
}

std::string AccountCreationCaption(int minutesLeft) {
  return login_text::kWaitCaptionPrefix + std::to_string(minutesLeft) + " min";
}

namespace {

void StartAccountCreationWait(LoginState& state, LoginDialogs& dialogs) {
  state.RegWaitLeft = state.RegWaitMinutes;
  dialogs.StartAccountCreationWait(AccountCreationCaption(state.RegWaitLeft));
}

// Sends "sync.create_account" on the client that has just sent "sync.get_ftp_data", so the request
// also carries that call's members; true when the service answered status 100.
bool CreateAccount(LoginState& state, const std::string& email, const std::string& password,
                   const std::string& firstName, const std::string& lastName,
                   const std::string& salutation) {
  TVelmoraApi& api = *state.ApiClient;
  api.MethodName = "sync.create_account";
  api.AddParam("customer_email", email);
  api.AddParam("customer_password", password);
  api.AddParam("customer_firstname", firstName);
  api.AddParam("customer_lastname", lastName);
  api.AddParam("customer_att", salutation);
  api.AddParam("customer_activity_sphere", std::to_string(state.ActivitySphere));
  api.Call();
  return api.GetMember("status") == "100";
}

void ListSyncAccounts(LoginState& state, LoginDialogs& dialogs) {
  const TVelmoraApi& api = *state.ApiClient;
  dialogs.ClearAccountList();
  state.SyncAccounts.clear();
  auto member = [&api](const char* name, std::size_t i) {
    return CutToChars(api.GetMember(name + std::to_string(i)), kSynDataMaxChars);
  };
  for (std::size_t i = 0;; ++i) {
    // The order number is cut like every other field before it is listed and matched, so that the
    // selection dialog finds the listed entry in SyncAccounts and a stored number (also cut to
    // 255 characters when loaded) can match it.
    const std::string ordNo = member("sync_ord_no", i);
    if (ordNo.empty()) break;
    dialogs.AddAccountListEntry(ordNo);
    if (ordNo == state.SelectedOrdNo)
      dialogs.SelectAccountListEntry(static_cast<int>(state.SyncAccounts.size()));
    state.SyncAccounts.push_back({ordNo, member("snyc_server_type", i),
                                  member("sync_server_host", i), member("sync_server_user", i),
                                  member("sync_server_password", i)});
  }
  if (state.SyncAccounts.empty()) dialogs.MessageBox(login_text::kNotReady);
  dialogs.HideLogin();
  dialogs.ShowSelection();
}

}  // namespace

void btnLoginRegClick(LoginState& state, LoginDialogs& dialogs) {
  dialogs.StopAutoLoginCountdown();
  state.AutoLoginSecondsLeft = 10;

  const std::string email = dialogs.LoginEmail();
  if (email.empty()) {
    if (dialogs.Confirm(login_text::kEmptyEmail)) {
      dialogs.HideLogin();
      dialogs.ShowRegistration();
    }
    return;
  }

  state.ApiClient = std::make_unique<TVelmoraApi>();
  TVelmoraApi& api = *state.ApiClient;
  api.Port = state.Api.ApiPort;
  api.Tls = state.Api.Tls;
  if (!api.Init(state.Api.ApiHost, state.Api.ApiPath, state.Api.ApiUser, state.Api.ApiPass)) {
    dialogs.MessageBox(login_text::kCannotConnect);
    return;
  }

  api.MethodName = "sync.get_ftp_data";
  api.AddParam("customer_username", TrimControls(email));
  api.AddParam("customer_password", TrimControls(dialogs.LoginPassword()));
  api.AddParam("customer_activity_sphere", std::to_string(state.ActivitySphere));
  api.AddParam("sync_client_version", std::to_string(state.ClientVersion));
  api.Call();

  if (api.GetMember("status") == "100") {
    ListSyncAccounts(state, dialogs);
    return;
  }

  const std::string fault = api.GetMember("faultCode");
  if (fault == "1002") {
    if (!state.RegistrationPending) {
      if (dialogs.Confirm(login_text::kCustomerNotFound)) {
        dialogs.HideLogin();
        dialogs.ShowRegistration();
      }
      return;
    }
    // The registration dialog started this attempt: create the customer from its fields.
    const bool created = CreateAccount(
        state, TrimControls(dialogs.RegEmail()), TrimControls(dialogs.RegPassword()),
        TrimControls(dialogs.RegFirstName()), TrimControls(dialogs.RegLastName()),
        TrimControls(dialogs.RegSalutation()));
    if (created)
      StartAccountCreationWait(state, dialogs);
    else
      dialogs.MessageBox(login_text::kCreationFailed);
    state.RegistrationPending = false;
  } else if (fault == "1006") {
    // A known customer without a sync account: create one at once.
    const bool created = CreateAccount(state, TrimControls(email),
                                       TrimControls(dialogs.LoginPassword()), "already set",
                                       "already set", "Mr.");
    if (created)
      StartAccountCreationWait(state, dialogs);
    else
      dialogs.MessageBox(login_text::kCreationFailed);
  } else if (fault == "1003") {
    dialogs.MessageBox(login_text::kPasswordNotOk);
  } else if (fault == "1004") {
    StartAccountCreationWait(state, dialogs);
  } else if (fault == "1005") {
    dialogs.MessageBox(login_text::kClientTooOld);
  } else {
    dialogs.MessageBox(login_text::kUnknownErrorPrefix + fault + ")");
  }
}

}  // namespace bsync
