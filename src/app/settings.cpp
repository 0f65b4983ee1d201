#include "app/settings.h"

#include <charconv>
#include <chrono>
#include <cstdio>
#include <random>
#include <system_error>

#include "app/ini_file.h"
#include "platform/codepage.h"

namespace bsync {
namespace {

constexpr size_t kOrdNoMax = 255;

std::optional<int> ParsePort(const std::optional<std::string>& text) {
  if (!text) return std::nullopt;
  int value = 0;
  const char* end = text->data() + text->size();
  const auto [p, ec] = std::from_chars(text->data(), end, value);
  if (ec != std::errc() || p != end || value <= 0 || value > 65535) return std::nullopt;
  return value;
}

std::optional<std::string> NonEmpty(std::optional<std::string> text) {
  if (text && text->empty()) return std::nullopt;
  return text;
}

}  // namespace

std::string Rot47(std::string_view text) {
  std::string out(text);
  for (char& ch : out) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == ' ') continue;
    ch = static_cast<char>(c <= 79 ? c + 47 : c - 47);
  }
  return out;
}

std::filesystem::path SettingsFilePath(const std::filesystem::path& settingsDir) {
  return settingsDir / kSettingsFileName;
}

std::string MakeClientId(TDateTime now) {
  const auto seed = std::chrono::high_resolution_clock::now().time_since_epoch().count();
  std::mt19937 random(static_cast<std::mt19937::result_type>(seed));
  const unsigned r = std::uniform_int_distribution<unsigned>(0, 99998)(random);
  const DateTimeParts p = DecodeDateTime(now);
  char text[32];
  std::snprintf(text, sizeof text, "%02d%02d%04d%02d%02d%02d%03d%u", p.day, p.month, p.year, p.hour,
                p.minute, p.second, p.millisecond, r);
  return text;
}

void LoadSettings(const std::filesystem::path& settingsDir, LoginFields& fields,
                  SettingsState& state) {
  const auto path = SettingsFilePath(settingsDir);
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) return;
  IniFile ini(path);
  fields.SetEmail(Cp1252ToUtf8(Rot47(ini.ReadString(kMainSection, "email", ""))));
  fields.SetPassword(Cp1252ToUtf8(Rot47(ini.ReadString(kMainSection, "password", ""))));
  state.selectedOrdNo = ini.ReadString(kMainSection, "ord_no", "").substr(0, kOrdNoMax);
  fields.SetAutoLogin(ini.ReadBool(kMainSection, "autologin", false));
  state.cuid = ini.ReadString(kMainSection, "cuid", "");
  if (state.cuid.empty()) {
    try {
      ini.WriteString(kMainSection, "cuid", MakeClientId(NowLocal()));
    } catch (...) {
      // The settings file is never reported on; the identifier stays empty.
    }
    state.cuid = ini.ReadString(kMainSection, "cuid", "");
  }
}

void SaveSettings(const std::filesystem::path& settingsDir, const LoginFields& fields,
                  const SettingsState& state) {
  std::error_code ec;
  std::filesystem::create_directories(settingsDir, ec);
  const auto path = SettingsFilePath(settingsDir);
  if (!std::filesystem::exists(path, ec)) return;
  IniFile ini(path);
  try {
    ini.WriteString(kMainSection, "email", Rot47(Utf8ToCp1252Lossy(fields.Email())));
    ini.WriteString(kMainSection, "password", Rot47(Utf8ToCp1252Lossy(fields.Password())));
    ini.WriteString(kMainSection, "ord_no", state.selectedOrdNo);
    ini.WriteBool(kMainSection, "autologin", fields.AutoLogin());
    if (!state.cuid.empty()) ini.WriteString(kMainSection, "cuid", state.cuid);
  } catch (...) {
    // Saving the settings never reports anything to the user.
  }
}

ServiceSettings LoadServiceSettings(const std::filesystem::path& settingsFile) {
  ServiceSettings s;
  const IniFile ini(settingsFile);
  s.apiHost = NonEmpty(ini.Find("service", "api_host"));
  if (const auto port = ParsePort(ini.Find("service", "api_port"))) s.apiPort = *port;
  s.apiPath = NonEmpty(ini.Find("service", "api_path"));
  s.tlsVerify = ini.ReadString("service", "tls_verify", "1") != "0";
  s.caFile = ini.ReadString("service", "ca_file", "");
  s.ftpPort = ParsePort(ini.Find("service", "ftp_port"));
  return s;
}

}  // namespace bsync
