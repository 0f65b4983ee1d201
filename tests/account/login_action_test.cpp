// The login action against the stand-in service, with recording dialogs.
#include "account/login_action.h"

#include <gtest/gtest.h>

#include <regex>

#include "stand_in_service.h"

namespace bsync {
namespace {

using test::StandInServiceTest;

// Records every dialog call as one line of text.
class FakeDialogs : public LoginDialogs {
 public:
  std::string email = "anna@example.org";
  std::string password = "secret";
  std::string regEmail, regPassword, regFirst, regLast, regSalutation;
  bool confirmAnswer = false;
  std::vector<std::string> log;

  std::string LoginEmail() const override { return email; }
  std::string LoginPassword() const override { return password; }
  void StopAutoLoginCountdown() override { log.push_back("stop countdown"); }
  void StartAccountCreationWait(const std::string& caption) override {
    log.push_back("wait: " + caption);
  }
  void HideLogin() override { log.push_back("hide login"); }
  std::string RegEmail() const override { return regEmail; }
  std::string RegPassword() const override { return regPassword; }
  std::string RegFirstName() const override { return regFirst; }
  std::string RegLastName() const override { return regLast; }
  std::string RegSalutation() const override { return regSalutation; }
  void ShowRegistration() override { log.push_back("show registration"); }
  void ClearAccountList() override { log.push_back("clear list"); }
  void AddAccountListEntry(const std::string& text) override { log.push_back("entry " + text); }
  void SelectAccountListEntry(int index) override {
    log.push_back("select " + std::to_string(index));
  }
  void ShowSelection() override { log.push_back("show selection"); }
  void MessageBox(const std::string& text) override { log.push_back("message: " + text); }
  bool Confirm(const std::string& text) override {
    log.push_back("confirm: " + text);
    return confirmAnswer;
  }
};

using Log = std::vector<std::string>;

// The members of a recorded request in order: name=value.
std::vector<std::string> Members(const std::string& request) {
  static const std::regex member("<member><name>([^<]*)</name>\r\n<value><string>([^<]*)</string>");
  std::vector<std::string> out;
  for (std::sregex_iterator it(request.begin(), request.end(), member), end; it != end; ++it)
    out.push_back((*it)[1].str() + "=" + (*it)[2].str());
  return out;
}

std::string Method(const std::string& request) {
  const auto b = request.find("<methodName>") + 12;
  return request.substr(b, request.find("</methodName>") - b);
}

std::string Account(const std::string& ordNo, double readyAt = 0) {
  return "{\"ord_no\": \"" + ordNo + "\", \"host\": \"ftp" + ordNo + ".example\", \"user\": \"u" +
         ordNo + "\", \"password\": \"p" + ordNo + "\", \"ready_at\": " + std::to_string(readyAt) +
         "}";
}

std::string Customer(const std::string& accounts, const std::string& email = "anna@example.org") {
  return "{\"email\": \"" + email + "\", \"password\": \"secret\", \"accounts\": [" + accounts +
         "]}";
}

const std::string kOkHead =
    "<methodResponse><params><param><value><struct>"
    "<member><name>status</name><value><string>100</string></value></member>";
const std::string kOkTail = "</struct></value></param></params></methodResponse>";

std::string StringMember(const std::string& name, const std::string& value) {
  return "<member><name>" + name + "</name><value><string>" + value + "</string></value></member>";
}

class LoginActionTest : public StandInServiceTest {
 protected:
  void SetUp() override {
    StandInServiceTest::SetUp();
    state.Api.ApiHost = "127.0.0.1";
    state.Api.ApiPort = service_->port();
    state.Api.Tls.caFile = service_->certFile().string();
  }
  // The data file with customers, and control settings.
  void Data(const std::string& customers, const std::string& control = "{}") {
    service_->SetData(customers, control);
  }
  // sync.get_ftp_data answers body verbatim.
  void AnswerGetFtpData(const std::string& body) {
    Data("[]", "{\"raw_body\": {\"sync.get_ftp_data\": \"" + body + "\"}}");
  }
  Log Run() {
    btnLoginRegClick(state, dialogs);
    return dialogs.log;
  }
  std::vector<std::string> Methods() const {
    std::vector<std::string> out;
    for (const auto& r : service_->Requests()) out.push_back(Method(r));
    return out;
  }

  LoginState state;
  FakeDialogs dialogs;
};

TEST_F(LoginActionTest, EmptyEmailAsksToRegisterWithoutCallingTheService) {
  dialogs.email = "";
  state.AutoLoginSecondsLeft = 3;
  EXPECT_EQ(Run(), (Log{"stop countdown", "confirm: e-mail adress is empty start registration?"}));
  EXPECT_EQ(state.AutoLoginSecondsLeft, 10);
  EXPECT_EQ(state.ApiClient, nullptr);

  dialogs.log.clear();
  dialogs.confirmAnswer = true;
  EXPECT_EQ(Run(), (Log{"stop countdown", "confirm: e-mail adress is empty start registration?",
                        "hide login", "show registration"}));
  EXPECT_TRUE(service_->Requests().empty());
}

TEST_F(LoginActionTest, UnreachableServiceSaysSo) {
  state.Api.ApiPort = test::UnusedLoopbackPort();
  EXPECT_EQ(Run(), (Log{"stop countdown", "message: can not connect to server, please try again later"}));
}

TEST_F(LoginActionTest, SelfSignedServiceIsRefusedUnlessTheSettingsAllowIt) {
  test::TempDir dir;
  const auto ini = dir / "bsc.ini";
  const std::string service = "[service]\r\napi_host=127.0.0.1\r\napi_port=" +
                              std::to_string(service_->port()) + "\r\n";
  struct Case {
    std::string extra;
    bool connects;
  };
  const Case cases[] = {
      {"", false},
      {"tls_verify=0\r\n", true},
      {"ca_file=" + service_->certFile().string() + "\r\n", true},
  };
  Data("[" + Customer(Account("7")) + "]");
  for (const auto& c : cases) {
    test::WriteFile(ini, service + c.extra);
    state.Api = ApiAddressFrom(LoadServiceSettings(ini));
    dialogs.log.clear();
    const Log log = Run();
    EXPECT_EQ(log[1] == "message: can not connect to server, please try again later", !c.connects)
        << c.extra;
  }
}

TEST_F(LoginActionTest, SignInSendsTheFourMembersAfterTheServiceLogin) {
  Data("[" + Customer(Account("7")) + "]");
  dialogs.email = " anna@example.org\t";
  dialogs.password = " secret ";
  Run();
  const auto requests = service_->Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(Members(requests[0]), (std::vector<std::string>{"login=10000.sync", "password=HbqnRtWm8yJd"}));
  EXPECT_EQ(Method(requests[1]), "sync.get_ftp_data");
  EXPECT_EQ(Members(requests[1]),
            (std::vector<std::string>{"login=10000.sync", "password=HbqnRtWm8yJd",
                                      "customer_username=anna@example.org",
                                      "customer_password=secret", "customer_activity_sphere=15",
                                      "sync_client_version=55"}));
}

TEST_F(LoginActionTest, BlankEmailIsSentAsEmptyText) {
  dialogs.email = "   ";
  const Log log = Run();
  const auto requests = service_->Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(Members(requests[1])[2], "customer_username=");
  EXPECT_EQ(log.back(), "confirm: customeraccount not found start registration?");
}

TEST_F(LoginActionTest, FaultCodesShowTheirMessages) {
  struct Case {
    std::string control;
    Log tail;
  };
  const Case cases[] = {
      {"{\"fault\": {\"sync.get_ftp_data\": \"1003\"}}",
       {"message: password not ok or account disabled, please check your logindata"}},
      {"{\"fault\": {\"sync.get_ftp_data\": \"1005\"}}",
       {"message: your client is to old please update"}},
      {"{\"fault\": {\"sync.get_ftp_data\": \"1001\"}}", {"message: UNKNOW ERROR : code(1001)"}},
      {"{\"fault\": {\"sync.get_ftp_data\": \"10020\"}}", {"message: UNKNOW ERROR : code(10020)"}},
      // An answer without members: no status, no fault code.
      {"{\"raw_body\": {\"sync.get_ftp_data\": \"<methodResponse/>\"}}",
       {"message: UNKNOW ERROR : code()"}},
      // An empty answer.
      {"{\"raw_body\": {\"sync.get_ftp_data\": \"\"}}", {"message: UNKNOW ERROR : code()"}},
      {"{\"fault\": {\"sync.get_ftp_data\": \"1004\"}}",
       {"wait: accountcreation in process please wait 5 min"}},
  };
  for (const auto& c : cases) {
    Data("[]", c.control);
    dialogs.log.clear();
    Log expected{"stop countdown"};
    expected.insert(expected.end(), c.tail.begin(), c.tail.end());
    EXPECT_EQ(Run(), expected) << c.control;
  }
  EXPECT_EQ(state.RegWaitLeft, 5);
}

TEST_F(LoginActionTest, ServiceFaultsFromItsOwnDataReachTheUser) {
  struct Case {
    const char* name;
    std::string customers;
    std::string control;
    std::string password;
    std::string last;
  };
  const Case cases[] = {
      {"wrong password", "[" + Customer(Account("7")) + "]", "{}", "wrong",
       "message: password not ok or account disabled, please check your logindata"},
      {"account still being set up", "[" + Customer(Account("7", 4e9)) + "]", "{}", "secret",
       "wait: accountcreation in process please wait 5 min"},
      {"old client", "[" + Customer(Account("7")) + "]", "{\"min_client_version\": 56}", "secret",
       "message: your client is to old please update"},
  };
  for (const auto& c : cases) {
    Data(c.customers, c.control);
    dialogs.password = c.password;
    dialogs.log.clear();
    EXPECT_EQ(Run().back(), c.last) << c.name;
  }
  // None of them tries to create an account.
  for (const auto& m : Methods()) EXPECT_NE(m, "sync.create_account");
}

TEST_F(LoginActionTest, UnknownCustomerAsksToRegister) {
  for (bool ok : {false, true}) {
    dialogs.confirmAnswer = ok;
    dialogs.log.clear();
    Log expected{"stop countdown", "confirm: customeraccount not found start registration?"};
    if (ok) expected.insert(expected.end(), {"hide login", "show registration"});
    EXPECT_EQ(Run(), expected);
  }
  EXPECT_EQ(Methods(), (std::vector<std::string>{"debug.get_api_version", "sync.get_ftp_data",
                                                 "debug.get_api_version", "sync.get_ftp_data"}));
}

TEST_F(LoginActionTest, RegistrationCreatesTheCustomerWithTenMembers) {
  state.RegistrationPending = true;
  dialogs.regEmail = " new@example.org ";
  dialogs.regPassword = "pw&1 ";
  dialogs.regFirst = " Eva";
  dialogs.regLast = "   ";
  dialogs.regSalutation = " Dr. ";
  EXPECT_EQ(Run(), (Log{"stop countdown", "wait: accountcreation in process please wait 5 min"}));
  EXPECT_FALSE(state.RegistrationPending);
  EXPECT_EQ(state.RegWaitLeft, 5);
  const auto requests = service_->Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(Method(requests[2]), "sync.create_account");
  EXPECT_EQ(Members(requests[2]),
            (std::vector<std::string>{
                "login=10000.sync", "password=HbqnRtWm8yJd", "customer_username=anna@example.org",
                "customer_password=pw&amp;1", "customer_activity_sphere=15",
                "sync_client_version=55", "customer_email=new@example.org",
                "customer_firstname=Eva", "customer_lastname=", "customer_att=Dr."}));
  // The service stored the customer with the password as typed.
  const std::string data = test::ReadFile(service_->dataFile());
  EXPECT_NE(data.find("\"password\": \"pw&1\""), std::string::npos) << data;
}

TEST_F(LoginActionTest, FailedRegistrationSaysSoAndClearsThePendingFlag) {
  state.RegistrationPending = true;
  Data("[]", "{\"fault\": {\"sync.create_account\": \"1007\"}}");
  EXPECT_EQ(Run(), (Log{"stop countdown",
                        "message: accountcreation failed, please check your data and try again later"}));
  EXPECT_FALSE(state.RegistrationPending);
}

TEST_F(LoginActionTest, CustomerWithoutSyncAccountGetsOneAtOnce) {
  Data("[" + Customer("") + "]");
  EXPECT_EQ(Run(), (Log{"stop countdown", "wait: accountcreation in process please wait 5 min"}));
  const auto requests = service_->Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(Members(requests[2]),
            (std::vector<std::string>{
                "login=10000.sync", "password=HbqnRtWm8yJd", "customer_username=anna@example.org",
                "customer_password=secret", "customer_activity_sphere=15", "sync_client_version=55",
                "customer_email=anna@example.org", "customer_firstname=already set",
                "customer_lastname=already set", "customer_att=Mr."}));

  // A failing creation shows its message instead.
  Data("[" + Customer("") + "]", "{\"fault\": {\"sync.create_account\": \"1003\"}}");
  dialogs.log.clear();
  EXPECT_EQ(Run().back(),
            "message: accountcreation failed, please check your data and try again later");
}

TEST_F(LoginActionTest, AccountsAreListedAndTheStoredOneSelected) {
  Data("[" + Customer(Account("7") + "," + Account("8")) + "]");
  state.SelectedOrdNo = "8";
  EXPECT_EQ(Run(), (Log{"stop countdown", "clear list", "entry 7", "entry 8", "select 1",
                        "hide login", "show selection"}));
  ASSERT_EQ(state.SyncAccounts.size(), 2u);
  const TSynData& a = state.SyncAccounts[1];
  EXPECT_EQ(a.OrdNo, "8");
  EXPECT_EQ(a.ServerType, "ftp");
  EXPECT_EQ(a.ServerHost, "ftp8.example");
  EXPECT_EQ(a.ServerUser, "u8");
  EXPECT_EQ(a.ServerPassword, "p8");
}

TEST_F(LoginActionTest, ListStopsAtTheFirstMissingIndex) {
  AnswerGetFtpData(kOkHead + StringMember("sync_ord_no0", "A") + StringMember("sync_server_host0", "h") +
                   StringMember("sync_ord_no2", "C") + kOkTail);
  state.SyncAccounts = {TSynData{"old", "", "", "", ""}};
  EXPECT_EQ(Run(), (Log{"stop countdown", "clear list", "entry A", "hide login", "show selection"}));
  ASSERT_EQ(state.SyncAccounts.size(), 1u);
  EXPECT_EQ(state.SyncAccounts[0].ServerHost, "h");
}

TEST_F(LoginActionTest, NoAccountsStillOpensTheSelection) {
  AnswerGetFtpData(kOkHead + kOkTail);
  EXPECT_EQ(Run(), (Log{"stop countdown", "clear list", "message: ERROR account not ready",
                        "hide login", "show selection"}));
  EXPECT_TRUE(state.SyncAccounts.empty());
}

TEST_F(LoginActionTest, LongValuesAreCutTo255Characters) {
  const std::string longText(300, 'x');
  const std::string longOrd(256, '9');
  AnswerGetFtpData(kOkHead + StringMember("sync_ord_no0", longOrd) +
                   StringMember("snyc_server_type0", longText) +
                   StringMember("sync_server_host0", longText) +
                   StringMember("sync_server_user0", longText) +
                   StringMember("sync_server_password0", longText) + kOkTail);
  state.SelectedOrdNo = std::string(255, '9');
  const Log log = Run();
  ASSERT_EQ(state.SyncAccounts.size(), 1u);
  const TSynData& a = state.SyncAccounts[0];
  for (const std::string* f : {&a.OrdNo, &a.ServerType, &a.ServerHost, &a.ServerUser, &a.ServerPassword})
    EXPECT_EQ(f->size(), 255u);
  // The list entry is the order number the selection dialog finds in SyncAccounts.
  EXPECT_EQ(log[2], "entry " + a.OrdNo);
  EXPECT_EQ(log[3], "select 0");
}

TEST_F(LoginActionTest, EachAttemptUsesANewClient) {
  Data("[" + Customer(Account("7")) + "]");
  Run();
  const TVelmoraApi* first = state.ApiClient.get();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->MethodName, "sync.get_ftp_data");
  Run();
  EXPECT_NE(state.ApiClient.get(), nullptr);
  EXPECT_EQ(state.ApiClient->Params.size(), 4u);
}

TEST_F(LoginActionTest, NewAccountBecomesReadyAfterTheWait) {
  // A customer without sync account: the action creates one, which the service keeps in
  // preparation until its time comes; the login after that lists it.
  Data("[" + Customer("") + "]", "{\"ready_delay\": 100000}");
  EXPECT_EQ(Run().back(), "wait: accountcreation in process please wait 5 min");
  dialogs.log.clear();
  EXPECT_EQ(Run().back(), "wait: accountcreation in process please wait 5 min");  // 1004
  EXPECT_EQ(Methods().back(), "sync.get_ftp_data");

  // Time passes at the service.
  const std::string data = test::ReadFile(service_->dataFile());
  test::WriteFile(service_->dataFile(),
                  std::regex_replace(data, std::regex("\"ready_at\": [0-9.e+]+"), "\"ready_at\": 0"));
  dialogs.log.clear();
  EXPECT_EQ(Run().back(), "show selection");
  ASSERT_EQ(state.SyncAccounts.size(), 1u);
  EXPECT_EQ(state.SyncAccounts[0].ServerHost, "127.0.0.1");
  EXPECT_EQ(state.SyncAccounts[0].ServerUser, "sync" + state.SyncAccounts[0].OrdNo);
}

}  // namespace
}  // namespace bsync
