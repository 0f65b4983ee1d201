// Where the program keeps its folders, and environment access.
#pragma once

#include <filesystem>
#include <string>

namespace bsync {

// The value of an environment variable; empty when it is not set.
std::string GetEnv(const std::string& name);

// The user's profile folder: USERPROFILE, else HOME.
std::filesystem::path ProfileDir();
// <profile>/bsc: the settings file and the run's working files.
std::filesystem::path SettingsDirPath();
// <profile>/brindlesync: the synchronised folder.
std::filesystem::path SyncDirPath();
// The folder of the running executable (the settings template lies beside it).
std::filesystem::path ExecutableDir();

}  // namespace bsync
