#pragma once
// Unbuffered console output for the headless modes.
#include <string>
#include <string_view>

namespace con {

// Writes every byte to standard output, retrying after partial writes;
// stops silently when the descriptor is closed or broken.
void print(std::string_view text);
void printf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Names, paths and tool messages may hold terminal control sequences: C0,
// DEL, C1 (0x9B alone starts one), broken UTF-8 and '\' go out as \xNN,
// valid UTF-8 stays.
std::string printable(std::string_view s);
// Prints text line by line, each made printable.
void print_lines(std::string_view text);

} // namespace con
