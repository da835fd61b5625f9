#pragma once
// Small text helpers every component shares. Letters are ASCII only,
// whatever the locale, so the bytes of UTF-8 text pass unchanged.
#include <string>

namespace textutil {

inline unsigned char lower(unsigned char c) { return c >= 'A' && c <= 'Z' ? (unsigned char)(c - 'A' + 'a') : c; }
inline unsigned char upper(unsigned char c) { return c >= 'a' && c <= 'z' ? (unsigned char)(c - 'a' + 'A') : c; }

inline std::string lower(std::string s)
{
    for (char& c : s)
        c = char(lower((unsigned char)c));
    return s;
}

inline std::string upper(std::string s)
{
    for (char& c : s)
        c = char(upper((unsigned char)c));
    return s;
}

// Without the white space (blanks, tabs, line ends, \v, \f) at both ends.
inline std::string trim(const std::string& s)
{
    const char* blanks = " \t\r\n\v\f";
    size_t a = s.find_first_not_of(blanks);
    if (a == std::string::npos)
        return {};
    return s.substr(a, s.find_last_not_of(blanks) - a + 1);
}

} // namespace textutil
