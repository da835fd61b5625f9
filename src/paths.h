#pragma once
// Per-user directories and how the program was packaged.
#include <string>

namespace paths {

// The configuration directory; created (mode 0700) on first use.
std::string config_dir();
// "snap", "flatpak", "appimage" or "plain".
const char* package_kind();
// Directory of the running executable without a trailing '/', or empty.
std::string exe_dir();
bool is_sandboxed();
// Creates the directory and those above it that are missing (mode 0700).
void make_dirs(const std::string& dir);

} // namespace paths
