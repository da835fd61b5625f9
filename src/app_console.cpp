// The application as the debug console's target. The debugger front end
// and the binary view give it a program and an image to act on; until they
// are part of the window the console answers that there is no target.
#include "app.h"

bool App::has_target() { return false; }
bool App::live() { return false; }
int App::bits() { return 64; }
size_t App::read(uint64_t, uint8_t*, size_t) { return 0; }
bool App::write(uint64_t, const uint8_t*, size_t) { return false; }
bool App::reg(const std::string&, uint64_t*) { return false; }
bool App::set_reg(const std::string&, uint64_t) { return false; }
std::vector<std::string> App::reg_names() { return {}; }
bool App::symbol(const std::string&, uint64_t*) { return false; }
std::string App::symbol_at(uint64_t) { return {}; }
uint64_t App::here() { return 0; }
bool App::go(bool, uint64_t) { return false; }
bool App::trace(int) { return false; }
bool App::proceed(int) { return false; }
bool App::toggle_bp(uint64_t, bool) { return false; }
std::vector<uint64_t> App::bps() { return {}; }
void App::clear_bps() {}
bool App::write_file(const std::string&, std::string*) { return false; }
void App::stop() {}
void App::changed() { m_dirty = true; }

void App::run_script(const std::string& commands)
{
    // Read like lines ended by ";": an empty piece between two ";" is a
    // command too, nothing follows a final ";".
    size_t at = 0;
    while (at < commands.size()) {
        size_t semi = commands.find(';', at);
        if (semi == std::string::npos) {
            m_con.exec(commands.substr(at));
            break;
        }
        m_con.exec(commands.substr(at, semi - at));
        at = semi + 1;
    }
    m_settings.bottom_tab = 2;
}
