#pragma once
// Advice for missing build tools and libraries: what is missing and how to
// install or find it on the running distribution.
#include "toolchain.h"

#include <string>
#include <vector>

namespace needs {

// The distinct items ("nasm", "ld", "cc", "crt32", "lib:" + word) of every
// diagnostic whose message begins with "missing:", in first-seen order.
std::vector<std::string> from_diags(const std::vector<tc::Diag>& diags);

// Translated advice lines; follow-up lines (commands) begin with four blanks.
std::vector<std::string> explain(const std::vector<std::string>& items);
// The same for a given distribution and Snap root (empty outside a Snap).
std::vector<std::string> explain(const std::vector<std::string>& items, const tc::Distro& distro,
                                 const std::string& snap_root);

// The lines of explain without their leading blanks, joined by one blank.
std::string explain_line(const std::vector<std::string>& items);

} // namespace needs
