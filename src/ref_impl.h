#pragma once
// Shared inside the reference: the topic table and the helpers that turn
// table rows into texts.
#include "ref.h"
#include "refdata.h"
#include "textutil.h"

#include <string>
#include <vector>

namespace ref::impl {

struct Topic {
    const char* id;
    const char* body; // translation key of the body
};

inline constexpr int kTopicCount = 11;
extern const Topic kTopics[kTopicCount];

using textutil::lower;
// Pieces between separators, empty ones kept; "" gives none.
std::vector<std::string> split(const std::string& s, char sep);
// The text up to its first sentence end (". ", "。", "\n", "। ", "። ", "։ ", Urdu's "۔ ").
std::string first_sentence(const std::string& s);
std::string insn_desc(const refdata::Insn& row);
// Whether the call has a description of its own.
bool sys_has_text(const refdata::Syscall& row);
std::string sys_desc(const refdata::Syscall& row);
void fill(const refdata::Syscall& row, bool is64, SyscallInfo* out);
// Row of the first call with that number in the numbering, or -1.
int syscall_row(unsigned long nr, bool is64);

} // namespace ref::impl
