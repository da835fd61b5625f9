#pragma once
// One-line explanations of decoded instructions for people learning assembly.
#include "disasm.h"

#include <cstdint>
#include <functional>
#include <string>

namespace pseudo {

// The explanation of `insn`, or empty. `names` gives a symbol name for an
// address (or empty); it may itself be empty.
std::string comment(const dis::Insn& insn, const std::function<std::string(uint64_t)>& names);
// The same into `out` (emptied first), for loops that reuse one string.
void comment(const dis::Insn& insn, const std::function<std::string(uint64_t)>& names, std::string* out);

} // namespace pseudo
