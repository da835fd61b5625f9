// Versions of the external tools, asked for by the Settings and About
// dialogs and found off the main thread: asking never waits for a tool.
// Each program file is probed once; a file replaced or changed since (a
// tool installed or updated meanwhile) is probed again.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace toolprobe {

// The one-line version text of the program at `path` (what tc::tool_version
// says), or nothing while its probe runs; the first question starts it. A
// path that is not an executable file answers "" at once.
std::optional<std::string> version(const std::string& path);

// Whether the C compiler at `compiler` links 32-bit programs (its 32-bit C
// runtime is installed); nothing while the probe runs.
std::optional<bool> crt32(const std::string& compiler);

// Counts the answers that have arrived; a change means "repaint".
uint64_t generation();

// Whether a probe is queued or running.
bool busy();

} // namespace toolprobe
