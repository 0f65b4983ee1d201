// The settings file <profile>/bsc/bsc.ini: the sign-in e-mail address and password (disguised
// with Rot47), the chosen order number, the auto-login choice, the client identifier and the FTP
// user of the last finished run, plus an optional section "service" that points the program at
// another account service or FTP port.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "platform/datetime.h"

namespace bsync {

inline constexpr char kSettingsFileName[] = "bsc.ini";
inline constexpr char kMainSection[] = "main";

// The login dialog's fields that the settings file fills and saves. Texts are UTF-8.
// Called from the main thread.
class LoginFields {
 public:
  virtual ~LoginFields() = default;
  virtual std::string Email() const = 0;
  virtual void SetEmail(const std::string& text) = 0;
  virtual std::string Password() const = 0;
  virtual void SetPassword(const std::string& text) = 0;
  virtual bool AutoLogin() const = 0;
  virtual void SetAutoLogin(bool ticked) = 0;
};

// The program state that LoadSettings fills and SaveSettings writes.
struct SettingsState {
  std::string selectedOrdNo;  // at most 255 characters
  std::string cuid;           // this installation's client identifier
};

// Every character but the space: code c <= 79 becomes c + 47, any other c - 47. "abc" -> "234".
// Works on bytes (the file's Windows-1252 text).
std::string Rot47(std::string_view text);

std::filesystem::path SettingsFilePath(const std::filesystem::path& settingsDir);

// A new client identifier: local time as "ddmmyyyyhhnnsszzz" followed by a random number below
// 99999 without leading zeros; 18 to 22 digits.
std::string MakeClientId(TDateTime now);

// Loads the settings file of settingsDir into the fields and the state. A missing file loads
// nothing and creates nothing. An empty "cuid" is replaced by a new identifier, which is written
// and read back.
void LoadSettings(const std::filesystem::path& settingsDir, LoginFields& fields,
                  SettingsState& state);

// Creates settingsDir if needed; if the settings file exists, writes the fields, the order
// number, the auto-login tick and (when set) the client identifier. A missing file stays missing.
void SaveSettings(const std::filesystem::path& settingsDir, const LoginFields& fields,
                  const SettingsState& state);

// Section "service": where the account service and the FTP servers are. Absent keys keep the
// built-in values.
struct ServiceSettings {
  std::optional<std::string> apiHost;  // "api_host"
  int apiPort = 443;                   // "api_port"
  std::optional<std::string> apiPath;  // "api_path"
  bool tlsVerify = true;               // "tls_verify": "1" or "0"
  std::string caFile;                  // "ca_file": extra CA certificates (PEM)
  std::optional<int> ftpPort;          // "ftp_port": used instead of 21 for every sync account
};

// Reads section "service" of the settings file; a missing file gives the built-in values.
ServiceSettings LoadServiceSettings(const std::filesystem::path& settingsFile);

}  // namespace bsync
