#pragma once
// A private session bus (dbus-run-session, no activatable services) with the
// portal stand-in (support/portal_standin.cpp) on it, for the portal tests.
#include <string>
#include <sys/types.h>
#include <vector>

namespace testutil {

class PortalBus {
public:
    ~PortalBus() { stop(); }

    // Starts the bus with its configuration and socket in `dir`; without
    // `with_portal` the stand-in does not take the portal's name. `extra`
    // goes to the stand-in's command line.
    bool start(const std::string& dir, bool with_portal, const std::vector<std::string>& extra = {});
    // Closes the stand-in's input, which ends it and the bus.
    void stop();

    const std::string& address() const { return m_address; }
    // What the bus daemon complained about.
    std::string errors() const;

    // Sends one command; true when the stand-in acknowledged it.
    bool command(const std::string& line);
    // The next report line, split at tabs; false when none came in a minute.
    bool next(std::vector<std::string>* fields);

private:
    pid_t m_pid = -1;
    int m_in = -1;
    int m_out = -1;
    std::string m_buf;
    std::string m_address;
    std::string m_errors;
};

} // namespace testutil
