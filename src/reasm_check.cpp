// The rebuild check: assemble and link the emitted source again, compare the
// result with the image byte for byte and name the instructions that NASM
// encoded differently. Also the one-time probe for NASM's GOT keyword.
#include "needs.h"
#include "reasm_impl.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace reasm {

namespace {

bool write_text(const std::string& path, const std::string& text)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f << text;
    return bool(f);
}

bool read_bytes(const std::string& path, std::vector<uint8_t>* out)
{
    std::ifstream f(path, std::ios::binary);
    if (!f)
        return false;
    out->assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    return true;
}

std::string base_name(const std::string& path)
{
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

// NASM's error lines name source lines; those that hold an instruction
// mark it for bytes, so a form NASM rejects does not end the conversion.
void errors_to_instructions(const std::vector<tc::Diag>& diags, const std::string& asm_path, const LineMap& lines,
                            std::set<uint64_t>* differing)
{
    // After another error NASM stops moving labels, and short jumps that
    // reach far enough in the finished program are out of range: they are
    // judged again once the other errors are gone.
    auto out_of_range = [](const tc::Diag& d) { return d.msg.find("short jump is out of range") != std::string::npos; };
    bool others = std::any_of(diags.begin(), diags.end(), [&](const tc::Diag& d) { return d.error && !out_of_range(d); });
    for (const auto& d : diags) {
        if (!d.error || d.line <= 0 || (d.file != asm_path && base_name(d.file) != base_name(asm_path)))
            continue;
        if (others && out_of_range(d))
            continue;
        auto it = lines.find(d.line);
        if (it != lines.end())
            differing->insert(it->second);
    }
}

std::string failed_tool(const tc::BuildResult& br, std::string* first_error)
{
    // The tools run one after the other and the build stops at the first
    // that fails: the last command logged.
    size_t cmd = br.log.rfind("\n$ ");
    cmd = cmd == std::string::npos ? (br.log.rfind("$ ", 0) == 0 ? 0 : std::string::npos) : cmd + 1;
    if (cmd == std::string::npos)
        return {};
    size_t eol = br.log.find('\n', cmd);
    std::string program = br.log.substr(cmd + 2, br.log.find(' ', cmd + 2) - cmd - 2);
    program.erase(std::remove(program.begin(), program.end(), '\''), program.end());
    std::string tool = base_name(program);
    std::vector<std::string> out;
    for (size_t at = eol; at != std::string::npos && at + 1 < br.log.size();) {
        size_t end = br.log.find('\n', at + 1);
        out.push_back(br.log.substr(at + 1, (end == std::string::npos ? br.log.size() : end) - at - 1));
        at = end;
    }
    // The linker the compiler driver runs speaks for itself ("/usr/bin/ld: ...").
    auto pick = [&](std::initializer_list<const char*> marks) {
        for (const auto& l : out)
            for (const char* m : marks)
                if (l.find(m) != std::string::npos)
                    return l;
        return std::string();
    };
    std::string line = pick({ "undefined reference", "multiple definition", "cannot find", "error", "fatal" });
    if (line.empty())
        line = pick({ ":" });
    for (const auto& l : out)
        if (l.rfind("collect2", 0) == 0 || (l.find("ld: ") != std::string::npos && l.find("ld: ") < l.find(' ')))
            tool = "ld";
    size_t prefix = line.find("ld: ");
    if (prefix != std::string::npos && prefix < line.find(' '))
        line = line.substr(prefix + 4);
    // A file named first goes by its base name: the work folder says nothing.
    size_t colon = line.find(':');
    if (colon != std::string::npos && line.rfind('/', colon) != std::string::npos && line.find(' ') > colon)
        line = line.substr(line.rfind('/', colon) + 1);
    constexpr size_t kMaxLine = 200;
    if (line.size() > kMaxLine)
        line = line.substr(0, kMaxLine) + "...";
    *first_error = line;
    return line.empty() ? std::string() : tool;
}

bool check(const Writer& w, const BinImage& image, const std::string& asm_path, const LineMap& lines,
           std::set<uint64_t>* differing, bool* same, std::string* why, bool* moved)
{
    *same = false;
    w.m_failure.segments[0].clear();
    w.m_failure.segments[1].clear();
    bool sections_moved = false;
    if (moved)
        *moved = false;
    std::string out_path = tc::temp_dir() + "/reasm.out";
    unlink(out_path.c_str());

    // The format is known: the text need not be searched for it.
    tc::Format fmt = w.m_flat ? tc::Format::Bin : w.m_bits == 32 ? tc::Format::Elf32 : tc::Format::Elf64;
    tc::BuildResult br = tc::build(asm_path, fmt, out_path, w.m_link);
    if (!br.ok) {
        auto items = needs::from_diags(br.diags);
        *why = items.empty() ? "build" : "missing:" + needs::explain_line(items);
        if (items.empty()) {
            errors_to_instructions(br.diags, asm_path, lines, differing);
            w.m_failure.tool = failed_tool(br, &w.m_failure.line);
        }
        return false;
    }

    std::vector<uint8_t> flat;
    BinImage rebuilt;
    if (w.m_flat) {
        if (!read_bytes(out_path, &flat))
            return false;
    } else if (!rebuilt.load(out_path)) {
        return false;
    }
    auto rebuilt_byte = [&](uint64_t addr, uint8_t* b) {
        if (!w.m_flat)
            return rebuilt.read(addr, b, 1);
        if (addr < w.m_org || addr - w.m_org >= flat.size())
            return false;
        *b = flat[addr - w.m_org];
        return true;
    };

    if (!w.m_flat) {
        for (const auto& sec : w.m_secs) {
            bool found = false;
            for (const auto& s : rebuilt.m_sections)
                found |= s.name == section_name(sec.name) && s.addr == sec.addr;
            sections_moved |= !found;
        }
        if (moved)
            *moved = sections_moved;
    }

    // Lengths are judged on every instruction line. Bytes are judged only
    // when no length changed and every section kept its address: otherwise
    // a correct reference to something that moved would look different too.
    // By line number: a map of millions of lines would cost more than the
    // whole source.
    // A byte a line: no instruction is longer than 15 bytes, so a sum that
    // stops at 255 still tells a wrong length.
    std::vector<uint8_t> length_of_line(lines.empty() ? 0 : size_t(lines.last_line()) + 1, 0);
    for (const auto& la : br.lines)
        if (la.line > 0 && size_t(la.line) < length_of_line.size() && lines.count(la.line))
            length_of_line[size_t(la.line)] = uint8_t(std::min<uint64_t>(255, length_of_line[size_t(la.line)] + la.len));
    for (const auto& [ln, addr] : lines) {
        uint64_t len = w.m_code.at(addr).len;
        if (size_t(ln) < length_of_line.size() && length_of_line[size_t(ln)] && length_of_line[size_t(ln)] != len)
            differing->insert(addr);
    }
    if (differing->empty() && !sections_moved) {
        for (const auto& la : br.lines) {
            auto mapped = lines.find(la.line);
            if (mapped == lines.end())
                continue;
            if (la.addr != mapped->second)
                continue;
            const dis::Insn insn = w.insn_at(mapped->second);
            for (int i = 0; i < insn.len; ++i) {
                uint8_t b = 0;
                if (!rebuilt_byte(insn.addr + i, &b) || b != insn.bytes[i]) {
                    differing->insert(insn.addr);
                    break;
                }
            }
        }
    }

    *same = true;
    if (w.m_flat) {
        *same = flat == image.m_data;
    } else {
        for (const auto& sec : w.m_secs) {
            if (!sec.in_file)
                continue;
            for (uint64_t i = 0; i < sec.size && *same; ++i) {
                uint8_t b = 0;
                uint64_t off = sec.off + i;
                if (!rebuilt.read(sec.addr + i, &b, 1) || off >= image.m_data.size() || b != image.m_data[off])
                    *same = false;
            }
            if (!*same)
                break;
        }
        if (rebuilt.m_entry != image.m_entry)
            *same = false;
        // Equal section bytes are not enough: segments that the loader
        // maps over each other, or with other permissions, give another
        // program in memory.
        std::string where;
        const ElfLayout layout = read_layout(rebuilt.m_data);
        if (*same && !same_when_loaded(w.m_layout, image.m_data, layout, rebuilt.m_data, &where))
            *same = false;
        // What the loader maps: the segments themselves, not only the bytes.
        if (*same && !same_segments(w.m_layout, layout, w.m_failure.segments))
            *same = false;
    }
    if (!*same && differing->empty())
        *why = "differs";
    return true;
}

std::string got_wrt()
{
    static std::string keyword;
    if (!keyword.empty())
        return keyword;
    keyword = "..gotpcrel";
    std::string nasm = tc::find_tool("nasm");
    if (nasm.empty())
        return keyword;
    std::string dir = tc::temp_dir();
    write_text(dir + "/gotprobe.asm", "bits 64\nextern x\nsection .text\n    mov rax, [rel x wrt ..gotpcrel]\n");
    auto r = tc::run({ nasm, "-f", "elf64", "-o", dir + "/gotprobe.o", dir + "/gotprobe.asm" }, "", 5000);
    if (!r.started || r.status != 0)
        keyword = "..got";
    return keyword;
}

} // namespace reasm
