#pragma once
// The user's persistent settings, kept in the sealed file "settings.dat".
#include "toolchain.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct Geometry {
    int32_t x = 0;
    int32_t y = 0;
    int32_t w = 0; // valid 0..20000
    int32_t h = 0; // valid 0..20000
    bool has_pos = false;
    bool maximized = false;
};

struct Settings {
    std::string language = "auto";
    std::string theme = "auto";
    double font = 14;
    std::string format = "auto";
    std::string source;
    std::string binary;
    std::vector<std::string> recent;
    std::vector<std::string> recent_bin;
    int32_t main_tab = 0;
    int32_t bottom_tab = 0;
    double bottom_frac = 0.3;
    double right_w = 300;
    double right_frac = 0;
    double bin_split = 0; // stored under "bin_split2"
    double bin_split1 = 0;
    bool side_left = false;
    bool show_side = true;
    bool show_bottom = true;
    std::string folded;
    int32_t raw_bits = 16;
    std::string args;
    std::string nasm_path;
    std::string ld_path;
    std::vector<std::string> watches;
    std::vector<std::string> open_tabs;
    int32_t active_tab = 0;
    int32_t reg_width = 64;
    bool auto_debug = true;
    Geometry win;
    std::map<std::string, tc::LinkOpts> links;
    std::map<std::string, std::string> fstate;
    std::string find_text;
    std::string replace_text;
    std::string m_path;

    // Remembers `path` and applies what the sealed file there holds; a
    // missing or broken file leaves every field as it was.
    void load(const std::string& path);
    // False when no path is known or the file cannot be written.
    bool save() const;
    // Moves `path` to the front of recent_bin (bin) or recent, at most 8.
    void add_recent(const std::string& path, bool bin);
};
