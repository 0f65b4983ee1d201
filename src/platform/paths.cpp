#include "platform/paths.h"

#include <cstdlib>
#include <system_error>

namespace bsync {

std::string GetEnv(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  return value ? std::string(value) : std::string();
}

std::filesystem::path ProfileDir() {
  std::string profile = GetEnv("USERPROFILE");
  if (profile.empty()) profile = GetEnv("HOME");
  return std::filesystem::path(profile);
}

std::filesystem::path SettingsDirPath() { return ProfileDir() / "bsc"; }

std::filesystem::path SyncDirPath() { return ProfileDir() / "brindlesync"; }

std::filesystem::path ExecutableDir() {
  std::error_code ec;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::filesystem::current_path() : exe.parent_path();
}

}  // namespace bsync
