#include "app/settings.h"

#include <gtest/gtest.h>

#include "app/ini_file.h"
#include "support/temp_dir.h"

namespace bsync {
namespace {

struct FakeLoginFields : LoginFields {
  std::string email, password;
  bool autoLogin = false;
  std::string Email() const override { return email; }
  void SetEmail(const std::string& t) override { email = t; }
  std::string Password() const override { return password; }
  void SetPassword(const std::string& t) override { password = t; }
  bool AutoLogin() const override { return autoLogin; }
  void SetAutoLogin(bool v) override { autoLogin = v; }
};

TEST(Rot47, TransformsEveryCharacterButTheSpace) {
  EXPECT_EQ(Rot47("abc"), "234");
  EXPECT_EQ(Rot47("234"), "abc");
  EXPECT_EQ(Rot47("p w d"), "A H 5");
  EXPECT_EQ(Rot47(Rot47("Secret pass ~!")), "Secret pass ~!");
  // Outside printable ASCII the shift is not undone by a second transform.
  EXPECT_EQ(Rot47("\xE9"), "\xBA");
  EXPECT_EQ(Rot47("\xBA"), "\x8B");
}

TEST(ClientId, IsTheLocalTimeFollowedByARandomNumber) {
  const TDateTime t = EncodeDateTime({2024, 3, 5, 7, 8, 9, 45});
  for (int i = 0; i < 20; ++i) {
    const std::string id = MakeClientId(t);
    EXPECT_EQ(id.substr(0, 17), "05032024070809045");
    EXPECT_GE(id.size(), 18u);
    EXPECT_LE(id.size(), 22u);
    EXPECT_EQ(id.find_first_not_of("0123456789"), std::string::npos);
    EXPECT_TRUE(id.size() == 18 || id[17] != '0') << id;
  }
}

class SettingsTest : public ::testing::Test {
 protected:
  test::TempDir dir;
  FakeLoginFields fields;
  SettingsState state;
  std::filesystem::path file() const { return dir / "bsc.ini"; }
};

TEST_F(SettingsTest, LoadsDisguisedValuesAndCutsTheOrderNumber) {
  test::WriteFile(file(), "[main]\r\nemail=234\r\npassword=A H 5\r\nord_no=" +
                              std::string(300, '7') +
                              "\r\nautologin=true\r\ncuid=0101202412000000042\r\n");
  LoadSettings(dir.path(), fields, state);
  EXPECT_EQ(fields.email, "abc");
  EXPECT_EQ(fields.password, "p w d");
  EXPECT_EQ(state.selectedOrdNo, std::string(255, '7'));
  EXPECT_FALSE(fields.autoLogin);  // only a value starting with "1" is true
  EXPECT_EQ(state.cuid, "0101202412000000042");
}

TEST_F(SettingsTest, AnEmptyClientIdIsMadeAndStored) {
  test::WriteFile(file(), "[main]\r\nautologin=1\r\n");
  LoadSettings(dir.path(), fields, state);
  EXPECT_TRUE(fields.autoLogin);
  EXPECT_GE(state.cuid.size(), 18u);
  EXPECT_EQ(IniFile(file()).ReadString("main", "cuid", ""), state.cuid);
}

TEST_F(SettingsTest, WithoutASettingsFileNothingIsLoadedOrWritten) {
  fields.email = "keep";
  LoadSettings(dir.path(), fields, state);
  EXPECT_EQ(fields.email, "keep");
  SaveSettings(dir.path(), fields, state);
  EXPECT_FALSE(std::filesystem::exists(file()));
}

TEST_F(SettingsTest, SavesTheFieldsAndKeepsTheRest) {
  test::WriteFile(file(), "[main]\r\nlastacc=xyz\r\n[service]\r\napi_port=9443\r\n");
  fields.email = "a@b.c";
  fields.password = "p\xC3\xA9 x";  // UTF-8 "pé x"
  fields.autoLogin = true;
  state.selectedOrdNo = "4711";
  SaveSettings(dir.path(), fields, state);  // an empty cuid is not written
  const IniFile ini(file());
  EXPECT_EQ(ini.ReadString("main", "email", ""), Rot47("a@b.c"));
  EXPECT_EQ(ini.ReadString("main", "password", ""), Rot47("p\xE9 x"));
  EXPECT_EQ(ini.ReadString("main", "ord_no", ""), "4711");
  EXPECT_EQ(ini.ReadString("main", "autologin", ""), "1");
  EXPECT_EQ(ini.ReadString("main", "lastacc", ""), "xyz");
  EXPECT_FALSE(ini.Find("main", "cuid"));
  EXPECT_EQ(LoadServiceSettings(file()).apiPort, 9443);

  // Printable ASCII with blanks comes back as it was saved.
  fields.password = " pass word ";
  SaveSettings(dir.path(), fields, state);
  FakeLoginFields loaded;
  SettingsState loadedState;
  LoadSettings(dir.path(), loaded, loadedState);
  EXPECT_EQ(loaded.password, " pass word ");
}

TEST_F(SettingsTest, ServiceSectionDefaultsAndOverrides) {
  ServiceSettings s = LoadServiceSettings(file());
  EXPECT_FALSE(s.apiHost);
  EXPECT_EQ(s.apiPort, 443);
  EXPECT_TRUE(s.tlsVerify);
  EXPECT_FALSE(s.ftpPort);
  test::WriteFile(file(),
                  "[service]\napi_host=127.0.0.1\napi_port=8443\napi_path=/x.pl\ntls_verify=0\n"
                  "ca_file=/tmp/ca.pem\nftp_port=2121\n");
  s = LoadServiceSettings(file());
  EXPECT_EQ(s.apiHost, "127.0.0.1");
  EXPECT_EQ(s.apiPort, 8443);
  EXPECT_EQ(s.apiPath, "/x.pl");
  EXPECT_FALSE(s.tlsVerify);
  EXPECT_EQ(s.caFile, "/tmp/ca.pem");
  EXPECT_EQ(s.ftpPort, 2121);
}

}  // namespace
}  // namespace bsync
