#pragma once
// Byte classes shared by the editor's sources. Letters and digits are ASCII
// only; bytes from 0x80 up belong to no class here.
#include <string>

namespace edchars {

inline bool utf8_cont(unsigned char c) { return c >= 0x80 && c <= 0xBF; }

inline bool is_alnum(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// The bytes besides letters and digits that a NASM label may hold.
inline bool lbl_char(unsigned char c)
{
    return c == '@' || c == '#' || c == '$' || c == '.' || c == '?' || c == '_' || c == '~';
}

inline bool label_char(unsigned char c) { return is_alnum(c) || lbl_char(c); }

// Spaces and tabs at the start of a line.
inline int leading_blanks(const std::string& s)
{
    size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t'))
        ++i;
    return int(i);
}

} // namespace edchars
