#pragma once
// Internals of mailing a crash report, shared by the mail sources and
// reachable from the tests.
#include "qxcrash.h"

#include <sys/types.h>

#include <string>
#include <vector>

namespace qxcrash::detail {

// "<name> <version> (Build <build>) crash report".
std::string subject();
// The text cut to about `limit` bytes: the oldest log lines go first, then
// the end.
std::string mail_body(const std::string& text, size_t limit);
// Every byte but A-Z, a-z, 0-9 and "-._~" as %XX.
std::string url_encode(const std::string& text);
// The path with its last ".txt" turned into "-sent.txt", or "-sent" added.
std::string sent_name(const std::string& path);
// Invalid UTF-8 bytes written as \xNN, so the text can go on the bus.
std::string utf8_escaped(const std::string& text);
// A file: URI for a local path; "" when it cannot be formed.
std::string file_uri(const std::string& path);
std::string folder_uri(const std::string& dir);
// The value of the mail program's "-compose" argument. Every value is
// percent-encoded and left unquoted: the mail program decodes such values,
// while a quoted one ends at the first quote followed by a comma, which no
// escape can avoid.
std::string compose_argument(const std::string& to, const std::string& subject, const std::string& body_file,
    const std::vector<std::string>& files);

// The ways to a composed mail, tried in this order; each says whether a mail
// program took the mail.
bool via_thunderbird(const std::string& to, const std::string& subject, const std::string& body,
    const std::vector<std::string>& files);
bool via_portal(const std::string& to, const std::string& subject, const std::string& body,
    const std::vector<std::string>& files);
bool via_xdg_email(const std::string& to, const std::string& subject, const std::string& body,
    const std::vector<std::string>& files);
bool compose_with_attachments(const std::string& to, const std::string& subject, const std::string& body,
    const std::vector<std::string>& files);
// Through the identity's open_uri, else a detached xdg-open.
void open_uri(const std::string& uri);

// Waits for the child; -1 when it died by a signal or the wait was given up
// because mailing is being finished (the child is then left to run).
int wait_child(pid_t pid);

// Mailing's own log: dropped once finish_mail() has run.
void mail_log(const char* level, const std::string& message);
// Whether finish_mail() asks the worker to stop.
bool mail_closing();

// How long the worker waits for the portal's answer and for the mail
// program to read the body file; tests shorten them.
extern int g_portal_wait_ms;
extern int g_body_wait_ms;

} // namespace qxcrash::detail
