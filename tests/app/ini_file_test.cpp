#include "app/ini_file.h"

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace bsync {
namespace {

TEST(IniFile, KeepsOtherSectionsKeysAndCommentsWhenWriting) {
  test::TempDir dir;
  const auto path = dir / "bsc.ini";
  test::WriteFile(path, "; template\r\n[main]\r\nemail=x\r\nfoo=bar\r\n\r\n[other]\r\nk=v\r\n");
  IniFile ini(path);
  ini.WriteString("main", "email", "234");
  ini.WriteString("main", "cuid", "123");
  ini.WriteString("service", "api_port", "8443");
  EXPECT_EQ(test::ReadFile(path),
            "; template\r\n[main]\r\nemail=234\r\nfoo=bar\r\ncuid=123\r\n\r\n[other]\r\nk=v\r\n"
            "\r\n[service]\r\napi_port=8443\r\n");
}

TEST(IniFile, ReadsRawValuesAndNamesCaseInsensitively) {
  test::TempDir dir;
  const auto path = dir / "bsc.ini";
  test::WriteFile(path, "[Main]\nPassword= a=b ;c \nautologin=1x\nempty=\n");
  const IniFile ini(path);
  EXPECT_EQ(ini.ReadString("main", "password", "?"), " a=b ;c ");
  EXPECT_EQ(ini.ReadString("main", "missing", "dflt"), "dflt");
  EXPECT_EQ(ini.ReadString("other", "password", "dflt"), "dflt");
  EXPECT_TRUE(ini.ReadBool("main", "autologin", false));
  EXPECT_TRUE(ini.ReadBool("main", "empty", true));
}

TEST(IniFile, AMissingFileReadsEmptyAndTheFirstWriteCreatesIt) {
  test::TempDir dir;
  IniFile ini(dir / "new.ini");
  EXPECT_FALSE(ini.Find("main", "x"));
  ini.WriteString("main", "x", "1");
  EXPECT_EQ(test::ReadFile(dir / "new.ini"), "[main]\r\nx=1\r\n");
}

}  // namespace
}  // namespace bsync
