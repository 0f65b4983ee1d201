// The client against the stand-in service over real TLS on loopback.
#include "account/velmora_api.h"

#include <gtest/gtest.h>

#include <chrono>

#include "stand_in_service.h"

namespace bsync {
namespace {

using test::StandInService;
using test::StandInServiceTest;

constexpr char kCrlf[] = "\r\n";

class VelmoraApiTest : public StandInServiceTest {
 protected:
  void SetUp() override {
    StandInServiceTest::SetUp();
  }

  // A client that trusts the stand-in's certificate.
  TVelmoraApi Client() const {
    TVelmoraApi api;
    api.Port = service_->port();
    api.Tls.caFile = service_->certFile().string();
    return api;
  }
  bool InitClient(TVelmoraApi& api) const {
    return api.Init("127.0.0.1", "/index.pl", "10000.sync", "HbqnRtWm8yJd");
  }
  // Answers every call of method with body, in the code page the service uses.
  void Answer(const std::string& method, const std::string& body,
              const std::string& extraControl = "") const {
    service_->SetData("[]", "{\"raw_body\": {\"" + method + "\": \"" + body + "\"}" +
                                extraControl + "}");
  }

};

std::string ProbeBody() {
  std::string b;
  for (const char* line :
       {"<?xml version=\"1.0\"?>", "<methodCall>", "<methodName>debug.get_api_version</methodName>",
        "<params>", "<param>", "<value><struct>", "<member><name>login</name>",
        "<value><string>10000.sync</string></value>", "</member>", "<member><name>password</name>",
        "<value><string>HbqnRtWm8yJd</string></value>", "</member>", "</struct></value>",
        "</param>", "</params>", "</methodCall>"})
    b += std::string(line) + kCrlf;
  return b;
}

TEST_F(VelmoraApiTest, ProbeSendsTheExpectedBytes) {
  TVelmoraApi api = Client();
  ASSERT_TRUE(InitClient(api)) << api.LastError;
  const std::string body = ProbeBody();
  const std::string expected =
      "POST /index.pl HTTP/1.1\r\nHOST: 127.0.0.1\r\nUser-Agent: laz_unt_velmora_api/r1\r\n"
      "Content-Length: " + std::to_string(body.size()) + "\r\nContent-Type: text/xml\r\n\r\n" + body;
  const auto requests = service_->Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0], expected);
  EXPECT_EQ(api.Request, expected);
  EXPECT_EQ(api.Timeout, 15000);
  EXPECT_EQ(api.MethodName, "debug.get_api_version");
  EXPECT_TRUE(api.LastError.empty());
}

TEST_F(VelmoraApiTest, SecondCallSendsEveryMemberAddedBefore) {
  TVelmoraApi api = Client();
  ASSERT_TRUE(InitClient(api));
  api.MethodName = "sync.get_ftp_data";
  api.AddParam("Customer_Username", "a&b@x.example");
  api.AddParam("customer_password", "p<w>");
  api.Call();
  api.MethodName = "sync.create_account";
  api.AddParam("customer_password", "new");
  api.AddParam("customer_email", "55");
  api.Call();
  const auto requests = service_->Requests();
  ASSERT_EQ(requests.size(), 3u);
  const std::string members =
      "<member><name>customer_username</name>\r\n"
      "<value><string>a&amp;b@x.example</string></value>\r\n</member>\r\n"
      "<member><name>customer_password</name>\r\n<value><string>new</string></value>\r\n"
      "</member>\r\n"
      "<member><name>customer_email</name>\r\n<value><string>55</string></value>\r\n</member>\r\n"
      "</struct></value>\r\n";
  EXPECT_NE(requests[2].find("<methodName>sync.create_account</methodName>\r\n"), std::string::npos);
  EXPECT_NE(requests[2].find("<value><string>HbqnRtWm8yJd</string></value>\r\n</member>\r\n" + members),
            std::string::npos)
      << requests[2];
  EXPECT_NE(requests[1].find("<value><string>p&lt;w&gt;</string></value>"), std::string::npos);
}

TEST_F(VelmoraApiTest, ReadsAnswerMembers) {
  Answer("debug.get_api_version",
         "<methodResponse><params><param><value><struct>"
         "<member><name>status</name><value><string>100</string></value></member>"
         "<member><name>code</name><value><i4>1002</i4></value></member>"
         "<member><name>blank</name> <value><string>x</string></value></member>"
         "<member><name>sync_ord_no10</name><value><string>ten</string></value></member>"
         "<member><name>text</name><value><string>&amp;lt; &#65; &#065; &#x41; caf\\u00e9"
         "</string></value></member>"
         "</struct></value></param></params></methodResponse>");
  TVelmoraApi api = Client();
  ASSERT_TRUE(InitClient(api));
  EXPECT_EQ(api.GetMember("code"), "1002");
  EXPECT_EQ(api.GetMember("blank"), "");
  EXPECT_EQ(api.GetMember("sync_ord_no1"), "");
  EXPECT_EQ(api.GetMember("sync_ord_no10"), "ten");
  // One decoding pass; the service's Windows-1252 "é" arrives as UTF-8.
  EXPECT_EQ(api.GetMember("text"), "&lt; A &#065; &#x41; caf\xC3\xA9");
  EXPECT_NE(api.ResponseBodyRaw.find("&amp;lt;"), std::string::npos);
  EXPECT_EQ(api.ResponseHead.substr(0, 17), "HTTP/1.1 200 OK\r\n");
  EXPECT_EQ(api.Response, api.ResponseHead + api.ResponseBody);
}

TEST_F(VelmoraApiTest, EveryFramingOfTheAnswerIsRead) {
  const std::string ok = "<methodResponse><params><param><value><struct><member><name>status"
                         "</name><value><string>100</string></value></member></struct></value>"
                         "</param></params></methodResponse>";
  for (const char* control :
       {"", ", \"framing\": \"chunked\"", ", \"framing\": \"close\"",
        ", \"trailing_crlf\": true", ", \"framing\": \"chunked\", \"trailing_crlf\": true"}) {
    Answer("debug.get_api_version", ok, control);
    TVelmoraApi api = Client();
    EXPECT_TRUE(InitClient(api)) << control << " " << api.LastError;
  }
}

TEST_F(VelmoraApiTest, CallEndsWhenTheBodyIsCompleteOnAnOpenConnection) {
  // The service keeps the connection open after the answer. Waiting for it to close would take
  // the whole time limit; the call must end with the body instead.
  service_->SetData("[]", "{\"framing\": \"keep-alive\"}");
  TVelmoraApi api = Client();
  api.Host = "127.0.0.1";
  api.Path = "/index.pl";
  api.Login = "10000.sync";
  api.Password = "HbqnRtWm8yJd";
  api.MethodName = "debug.get_api_version";
  api.Timeout = 60000;
  const auto start = std::chrono::steady_clock::now();
  api.Call();
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(api.GetMember("status"), "100");
  EXPECT_LT(elapsed, std::chrono::seconds(30));
}

TEST_F(VelmoraApiTest, SilentServiceIsCutOffByTheTimeLimit) {
  for (const char* hang : {"tls", "http"}) {
    service_->SetData("[]", std::string("{\"hang\": \"") + hang + "\"}");
    TVelmoraApi api = Client();
    api.Host = "127.0.0.1";
    api.Path = "/index.pl";
    api.MethodName = "debug.get_api_version";
    api.Timeout = 300;
    api.Call();
    EXPECT_EQ(api.GetMember("status"), "") << hang;
    EXPECT_FALSE(api.LastError.empty()) << hang;
  }
}

TEST_F(VelmoraApiTest, UnreachableServiceGivesFalseWithoutThrowing) {
  TVelmoraApi api;
  api.Port = test::UnusedLoopbackPort();
  bool ok = true;
  EXPECT_NO_THROW(ok = api.Init("127.0.0.1", "/index.pl", "10000.sync", "HbqnRtWm8yJd"));
  EXPECT_FALSE(ok);
  EXPECT_TRUE(api.ResponseBody.empty());
  EXPECT_NE(api.LastError.find("cannot connect"), std::string::npos) << api.LastError;
}

TEST_F(VelmoraApiTest, SelfSignedCertificateIsRefusedUnlessAllowed) {
  struct Case {
    const char* name;
    bool verify;
    bool withCaFile;
    const char* host;
    bool accepted;
  };
  const Case cases[] = {
      {"system CA store only", true, false, "127.0.0.1", false},
      {"certificate as CA file", true, true, "127.0.0.1", true},
      {"CA file, name in certificate", true, true, "localhost", true},
      {"verification off", false, false, "127.0.0.1", true},
  };
  for (const auto& c : cases) {
    TVelmoraApi api;
    api.Port = service_->port();
    api.Tls.verify = c.verify;
    if (c.withCaFile) api.Tls.caFile = service_->certFile().string();
    EXPECT_EQ(api.Init(c.host, "/index.pl", "10000.sync", "HbqnRtWm8yJd"), c.accepted)
        << c.name << ": " << api.LastError;
  }
  // A refused certificate sends nothing: the password never leaves the machine.
  EXPECT_EQ(service_->Requests().size(), 3u);
}

TEST_F(VelmoraApiTest, CertificateForAnotherNameIsRefused) {
  // The certificate names localhost and 127.0.0.1; this service listens on 127.0.0.2.
  StandInService other(60, "127.0.0.2");
  TVelmoraApi api;
  api.Port = other.port();
  api.Tls.caFile = other.certFile().string();
  EXPECT_FALSE(api.Init("127.0.0.2", "/index.pl", "10000.sync", "HbqnRtWm8yJd"));
  EXPECT_NE(api.LastError.find("mismatch"), std::string::npos) << api.LastError;
  EXPECT_TRUE(other.Requests().empty());
}

}  // namespace
}  // namespace bsync
