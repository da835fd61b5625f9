// Feeds arbitrary lines to the debug console over a small stopped target,
// so the line splitter, the evaluator, ranges, lists and every command meet
// hostile input. The assembler is made to be missing, so assembly mode
// answers at once instead of starting a process per line.
#include "console.h"
#include "toolchain.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr uint64_t kBase = 0x401000;

// A 4 KiB image with a few registers and symbols; every run command only
// records that it was asked.
class Target : public Console::Host {
public:
    std::vector<uint8_t> mem = std::vector<uint8_t>(0x1000, 0x90);
    std::map<std::string, uint64_t> regs { { "rax", 0 }, { "rip", kBase }, { "rsp", kBase + 0x800 },
                                           { "eflags", 0x202 }, { "cs", 0x33 } };
    std::set<uint64_t> breaks;
    bool is_live = true;
    int width = 64;

    bool has_target() override { return true; }
    bool live() override { return is_live; }
    int bits() override { return width; }
    size_t read(uint64_t addr, uint8_t* out, size_t n) override
    {
        size_t i = 0;
        for (; i < n && addr + i >= kBase && addr + i - kBase < mem.size(); ++i)
            out[i] = mem[addr + i - kBase];
        return i;
    }
    bool write(uint64_t addr, const uint8_t* in, size_t n) override
    {
        if (addr < kBase || addr - kBase > mem.size() || n > mem.size() - (addr - kBase))
            return false;
        memcpy(mem.data() + (addr - kBase), in, n);
        return true;
    }
    bool reg(const std::string& name, uint64_t* out) override
    {
        auto it = regs.find(name);
        if (!is_live || it == regs.end())
            return false;
        *out = it->second;
        return true;
    }
    bool set_reg(const std::string& name, uint64_t value) override
    {
        if (!is_live || !regs.count(name))
            return false;
        regs[name] = value;
        return true;
    }
    std::vector<std::string> reg_names() override { return { "rax", "rsp", "rip", "eflags", "cs" }; }
    bool symbol(const std::string& name, uint64_t* out) override
    {
        if (name != "_start" && name != "Main")
            return false;
        *out = name == "Main" ? kBase + 0x10 : kBase;
        return true;
    }
    std::string symbol_at(uint64_t addr) override
    {
        if (addr == kBase)
            return "_start";
        return addr > kBase && addr < kBase + 0x10 ? "_start+" + std::to_string(addr - kBase) : "";
    }
    uint64_t here() override { return regs["rip"]; }
    bool go(bool, uint64_t) override { return true; }
    bool trace(int n) override { return n >= 1 && n <= 100000; }
    bool proceed(int n) override { return n >= 1 && n <= 100000; }
    bool toggle_bp(uint64_t addr, bool on) override
    {
        on ? (void)breaks.insert(addr) : (void)breaks.erase(addr);
        return true;
    }
    std::vector<uint64_t> bps() override { return { breaks.begin(), breaks.end() }; }
    void clear_bps() override { breaks.clear(); }
    bool write_file(const std::string& path, std::string* msg) override
    {
        *msg = path;
        return !path.empty();
    }
    void stop() override { is_live = false; }
    void changed() override { }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool no_nasm = (tc::set_tool_path("nasm", "/nonexistent/nasm"), true);
    (void)no_nasm;
    Target target;
    // The first byte picks the target's width.
    if (size > 0)
        target.width = data[0] % 3 == 0 ? 16 : data[0] % 3 == 1 ? 32 : 64;
    Console con(&target);
    std::string text(reinterpret_cast<const char*>(data), size);
    size_t from = size > 0 ? 1 : 0;
    for (int n = 0; n < 32 && from <= text.size(); ++n) {
        size_t nl = text.find('\n', from);
        std::string line = text.substr(from, nl == std::string::npos ? std::string::npos : nl - from);
        con.exec(line);
        uint64_t v = 0;
        con.eval(line, &v);
        if (n % 8 == 7)
            con.show_state();
        if (nl == std::string::npos)
            break;
        from = nl + 1;
    }
    if (con.lines().size() > Console::kMaxLines)
        __builtin_trap();
    return 0;
}
