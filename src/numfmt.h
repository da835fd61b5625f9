#pragma once
// Reading numbers in every NASM notation and showing values several ways.
#include <cstdint>
#include <string>

namespace numfmt {

bool parse(const std::string& text, uint64_t* value, int* bytes);
std::string hex(uint64_t v, int bytes);
std::string bin(uint64_t v, int bits);
std::string chars(uint64_t v, int bytes);
int64_t sign(uint64_t v, int bytes);
std::string tip(uint64_t v, int bytes);
// The value of one hexadecimal digit, -1 for any other character.
int hex_digit(char c);

} // namespace numfmt
