#pragma once
// Starting the desktop's opener for a web or mail link, without a shell and
// without letting the link pass for an option, and learning whether it
// worked: at once when no opener could start, later when it gave up.
#include <cstdint>
#include <string>
#include <vector>

namespace links {

enum class Opened { Started, Refused, NoOpener };

// Whether the text is a link this program hands to an opener: http, https
// or mailto, without blanks or control characters. Anything else (above
// all a text beginning with "-") is refused.
bool acceptable(const std::string& url);

// Starts "xdg-open" with the link as its only argument, in its own session,
// and does not wait for it.
Opened open(const std::string& url);

// The links whose opener has ended with a failure since the last call.
std::vector<std::string> take_failed();

// Counts openers that have ended; a change means "look at take_failed".
uint64_t generation();

} // namespace links
