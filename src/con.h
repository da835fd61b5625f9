#pragma once
// Unbuffered console output for the headless modes.
#include <string_view>

namespace con {

// Writes every byte to standard output, retrying after partial writes;
// stops silently when the descriptor is closed or broken.
void print(std::string_view text);
void printf(const char* format, ...) __attribute__((format(printf, 1, 2)));

} // namespace con
