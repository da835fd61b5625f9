#pragma once
// Process entry: start-up, the command line and window mode.
#include <string>
#include <vector>

namespace cmdline {

// Options for one window run, gathered by the argument loop.
struct WindowOptions {
    std::string theme;
    int width = 0;
    int height = 0;
    std::string screenshot;
    std::string script;
    std::string reference;
    std::vector<std::string> files;
};

enum class Action {
    Window,
    Version,
    Help,
    DisasmSource,
    Disasm,
    Build,
    Trace,
    RenderIcon,
    Unknown,
};

struct Command {
    Action action = Action::Window;
    int index = 0; // argv index of the option that chose the action
    WindowOptions window;
};

// Reads the arguments left to right; the first headless option, "--version",
// "--help" or an unrecognised option decides, otherwise it is a window run.
Command parse(int argc, char** argv);

// Reads "<w>x<h>". A side that does not parse or lies outside a sane window
// size is ignored and keeps its value (0 unless an earlier "--size" set it),
// so the window falls back to its remembered size.
void parse_size(const char* text, int* width, int* height);

void print_usage();

// The whole program: start-up, then a headless mode or the window.
int run(int argc, char** argv);

} // namespace cmdline
