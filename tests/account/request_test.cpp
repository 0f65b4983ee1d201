// The request the client builds, checked without a network.
#include <gtest/gtest.h>

#include "account/login_action.h"
#include "account/velmora_api.h"

namespace bsync {
namespace {

TEST(AddParam, LowerCasesAndReplacesInPlace) {
  TVelmoraApi api;
  EXPECT_FALSE(api.AddParam("Customer_Email", "a@b.example"));
  EXPECT_FALSE(api.AddParam("other", "1"));
  EXPECT_TRUE(api.AddParam("customer_email", "c@d.example"));
  ASSERT_EQ(api.Params.size(), 2u);
  EXPECT_EQ(api.Params[0].Name, "customer_email");
  EXPECT_EQ(api.Params[0].Value, "c@d.example");
  EXPECT_EQ(api.Params[0].ValueType, "string");
  EXPECT_EQ(api.Params[1].Name, "other");
}

TEST(BuildRequest, HeadCountsEveryBodyByte) {
  TVelmoraApi api;
  api.Host = "svc.example";
  api.Path = "/index.pl";
  api.UserAgent = kApiUserAgent;
  api.MethodName = "m";
  api.Login = "l&<>";
  api.AddParam("n", "55");
  api.BuildRequest();
  EXPECT_EQ(api.RequestBody.substr(api.RequestBody.size() - 15), "</methodCall>\r\n");
  EXPECT_NE(api.RequestBody.find("<value><string>l&amp;&lt;&gt;</string></value>\r\n"),
            std::string::npos);
  EXPECT_NE(api.RequestBody.find("<member><name>n</name>\r\n<value><string>55</string></value>\r\n"),
            std::string::npos);
  EXPECT_EQ(api.RequestHead,
            "POST /index.pl HTTP/1.1\r\nHOST: svc.example\r\nUser-Agent: laz_unt_velmora_api/r1\r\n"
            "Content-Length: " + std::to_string(api.RequestBody.size()) +
                "\r\nContent-Type: text/xml\r\n\r\n");
  EXPECT_EQ(api.Request, api.RequestHead + api.RequestBody);
}

}  // namespace
}  // namespace bsync

namespace bsync {
namespace {

TEST(ApiAddressFrom, SettingsOverrideOnlyWhatTheyName) {
  const ApiAddress builtIn = ApiAddressFrom(ServiceSettings{});
  EXPECT_EQ(builtIn.ApiHost, "api.brindlesync.example");
  EXPECT_EQ(builtIn.ApiPath, "/index.pl");
  EXPECT_EQ(builtIn.ApiUser, "10000.sync");
  EXPECT_EQ(builtIn.ApiPass, "HbqnRtWm8yJd");
  EXPECT_EQ(builtIn.ApiPort, 443);
  EXPECT_TRUE(builtIn.Tls.verify);
  EXPECT_TRUE(builtIn.Tls.caFile.empty());

  ServiceSettings s;
  s.apiHost = "127.0.0.1";
  s.apiPort = 8443;
  s.tlsVerify = false;
  s.caFile = "ca.pem";
  const ApiAddress a = ApiAddressFrom(s);
  EXPECT_EQ(a.ApiHost, "127.0.0.1");
  EXPECT_EQ(a.ApiPath, "/index.pl");
  EXPECT_EQ(a.ApiPort, 8443);
  EXPECT_FALSE(a.Tls.verify);
  EXPECT_EQ(a.Tls.caFile, "ca.pem");
}

TEST(AccountCreationCaption, ShowsTheMinutesLeft) {
  EXPECT_EQ(AccountCreationCaption(5), "accountcreation in process please wait 5 min");
}

}  // namespace
}  // namespace bsync
