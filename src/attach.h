#pragma once
// Putting a running program of the user's under the debugger: finding it by
// process id or program name through /proc, attaching the engine to it and
// the texts that tell the user how that went. The window finds the process
// and its executable first, opens the executable's document, and attaches
// last, so nothing it does while loading can end the fresh attachment.
#include "debugger_linux.h"

#include <string>

namespace attach {

enum class Find : int {
    Found = 0,
    Empty = 1,    // nothing but white space was typed
    NotFound = 2, // no process of this user has that name, or /proc is closed
};

// A text of digits is the process id as typed, otherwise the first process,
// in /proc's order, whose "comm" equals the text cut to the 15 characters
// the kernel keeps. Either way only the user's own processes are found,
// never this program itself nor init. The text is trimmed first.
Find find_process(const std::string& text, int* pid);

// The path of the process's executable, without attaching.
bool executable(int pid, std::string* path, std::string* err);

// The first line of /proc/sys/kernel/yama/ptrace_scope, "?" when unreadable.
std::string ptrace_scope();

enum class Outcome : int {
    Done = 0,
    Denied = 1,     // the system refused ("eperm")
    SnapDenied = 2, // refused inside a Snap package: show the sandbox hint
    Failed = 3,     // any other failure, with the engine's word in `err`
};

struct Result {
    Outcome outcome = Outcome::Failed;
    int pid = -1;
    std::string exe; // the executable's path on success
    std::string err; // the engine's error word on failure
};

// Attaches the engine; bounded by dbg::Process::kAttachWaitMs.
Result attach_to(dbg::Process& proc, int pid);
// The result of an attach that ended, at once or after its wait: done, or
// failed with the engine's error word.
Result result_of(int pid, bool ok, const std::string& exe, const std::string& err);

// The translated text for the result: "attach.done" for the status line,
// else the message dialog's text ("attach.eperm" with the ptrace_scope
// value, "attach.failed", or "snap.attach").
std::string message(const Result& r);
// The message dialog's text for a name that matched nothing.
std::string not_found_message(const std::string& text);

// Lets an attached process go (it runs on); false when none was attached.
bool detach(dbg::Process& proc);

} // namespace attach
