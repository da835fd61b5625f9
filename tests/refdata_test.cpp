// The reference's instruction table: its notation, its family rows and,
// above all, that every operand form it shows really assembles with NASM in
// the mode it is listed for, and fails in the mode it is not listed for.
#include "refdata.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <set>
#include <sstream>

using namespace testutil;

namespace {

std::vector<std::string> split(const std::string& s, const std::string& sep)
{
    std::vector<std::string> out;
    for (size_t pos = 0; !s.empty();) {
        size_t end = s.find(sep, pos);
        out.push_back(s.substr(pos, end - pos));
        if (end == std::string::npos)
            break;
        pos = end + sep.size();
    }
    return out;
}

std::vector<std::string> form_lines(const char* forms)
{
    std::vector<std::string> out = split(forms, "\n");
    out.erase(std::remove(out.begin(), out.end(), ""), out.end());
    return out;
}

std::string mnemonic_of(const std::string& form) { return form.substr(0, form.find(' ')); }

std::vector<std::string> operands_of(const std::string& form)
{
    size_t sp = form.find(' ');
    return sp == std::string::npos ? std::vector<std::string>() : split(form.substr(sp + 1), ", ");
}

bool only_in_64bit_mode(const std::string& m)
{
    static const std::set<std::string> only64 = { "cdqe", "cqo", "jrcxz", "movsq", "stosq",
                                                  "lodsq", "scasq", "cmpsq", "movsxd" };
    return only64.count(m) != 0;
}

// Turns an operand class into a concrete operand: the i-th register of the
// width, memory through rbx/ebx with its size word, or a number.
std::string concrete(const std::string& cls, size_t i, bool memory, int bits)
{
    static const std::map<std::string, std::string> fixed = { { "cl", "cl" }, { "label", "$" },
        { "imm8", "0x12" }, { "imm16", "0x1234" }, { "imm32", "0x12345678" }, { "imm64", "0x123456789ABCDEF0" } };
    static const std::map<int, std::string> words = { { 8, "byte " }, { 16, "word " }, { 32, "dword " }, { 64, "qword " } };
    static const char* regs[4][3] = { { "al", "cl", "dl" }, { "ax", "cx", "dx" }, { "eax", "ecx", "edx" }, { "rax", "rcx", "rdx" } };
    const std::string base = bits == 64 ? "[rbx]" : "[ebx]";
    auto mem = [&](size_t from) {
        auto it = words.find(std::stoi(cls.substr(from)));
        return (it == words.end() ? "" : it->second) + base; // NASM refuses "oword" on some SSE forms
    };
    auto reg = [&](size_t from) -> std::string {
        int w = std::stoi(cls.substr(from));
        return regs[w == 8 ? 0 : w == 16 ? 1 : w == 32 ? 2 : 3][i];
    };
    if (auto it = fixed.find(cls); it != fixed.end())
        return it->second;
    if (cls == "m")
        return base;
    if (cls == "xmm")
        return "xmm" + std::to_string(i);
    if (cls.rfind("xmm/m", 0) == 0)
        return memory ? mem(5) : "xmm" + std::to_string(i);
    if (cls.rfind("r/m", 0) == 0)
        return memory ? mem(3) : reg(3);
    return cls[0] == 'm' ? mem(1) : reg(1);
}

struct Instance {
    std::string text, row, form;
};

// Concrete lines for the forms listed for one mode, written for `bits`: a
// register spelling and, where the form takes memory, a memory spelling.
// `exclusive` keeps only the forms the other mode does not list.
std::vector<Instance> instances(bool want64, int bits, bool exclusive)
{
    std::vector<Instance> out;
    for (const auto& row : refdata::kInsns) {
        auto other = form_lines(want64 ? row.forms32 : row.forms64);
        for (auto& f : form_lines(want64 ? row.forms64 : row.forms32)) {
            if (exclusive && std::find(other.begin(), other.end(), f) != other.end())
                continue;
            for (bool memory : { false, true }) {
                std::string text = mnemonic_of(f);
                auto ops = operands_of(f);
                for (size_t i = 0; i < ops.size(); ++i)
                    text += (i ? ", " : " ") + concrete(ops[i], i, memory, bits);
                if (!memory || text != out.back().text)
                    out.push_back({ text, row.id, f });
            }
        }
    }
    return out;
}

struct Assembled {
    std::set<int> error_lines; // source lines NASM reported an error for
    std::set<int> code_lines;  // source lines that produced bytes
    std::string output;
};

// Assembles the instances as one flat file, one per line from line 2 on,
// and reports which lines failed and which produced code.
Assembled assemble(const std::vector<Instance>& inst, int bits, const TempDir& dir)
{
    std::string src = "bits " + std::to_string(bits) + "\n";
    for (auto& i : inst)
        src += "    " + i.text + "\n";
    std::string asm_path = dir.file("forms" + std::to_string(bits) + ".asm");
    std::string lst_path = dir.file("forms" + std::to_string(bits) + ".lst");
    write_file(asm_path, src);
    auto r = run({ "nasm", "-f", "bin", "-l", lst_path, "-o", dir.file("forms.bin"), asm_path });
    Assembled a;
    a.output = r.out + r.err;
    std::istringstream diag(a.output), lst(read_file(lst_path));
    std::string line, marker = asm_path + ":";
    while (std::getline(diag, line)) {
        if (line.rfind(marker, 0) == 0 && line.find(": error:") != std::string::npos)
            a.error_lines.insert(std::atoi(line.c_str() + marker.size()) - 1);
    }
    while (std::getline(lst, line)) {
        int n = line.size() >= 18 && line[6] == ' ' ? std::atoi(line.substr(0, 6).c_str()) : 0;
        if (n > 0 && std::isxdigit(static_cast<unsigned char>(line[16])))
            a.code_lines.insert(n - 1);
    }
    return a;
}

} // namespace

TEST(RefdataInsns, RowsUseTheNotation)
{
    const std::set<std::string> groups = { "data", "arith", "logic", "shift", "bits", "jump",
                                           "stack", "string", "flags", "system", "sse" };
    const std::set<std::string> flags = { "OF", "SF", "ZF", "AF", "PF", "CF", "DF", "IF", "TF", "AC", "ID" };
    const std::set<std::string> classes = { "r8", "r16", "r32", "r64", "m8", "m16", "m32", "m64", "m128", "m",
        "r/m8", "r/m16", "r/m32", "r/m64", "imm8", "imm16", "imm32", "imm64", "cl", "label", "xmm", "xmm/m32",
        "xmm/m64", "xmm/m128" };
    // Every row is filled in, and together they name 267 mnemonics.
    size_t mnemonics = 0;
    for (const auto& row : refdata::kInsns) {
        ASSERT_TRUE(row.id && row.group && row.names && row.family && row.cc && row.flags && row.example
                    && row.forms64 && row.forms32);
        mnemonics += split(row.names, ",").size();
    }
    EXPECT_EQ(mnemonics, 267u);
    std::set<std::string> ids;
    for (const auto& row : refdata::kInsns) {
        const std::string id = row.id;
        EXPECT_TRUE(ids.insert(id).second) << "duplicate id " << id;
        EXPECT_TRUE(groups.count(row.group)) << id << ": " << row.group;
        EXPECT_STRNE(row.example, "") << id;
        // Flags set, then after "|" those left undefined, then "| of1"; a
        // list may start with the one name of the row that sets them.
        std::set<std::string> seen;
        auto parts = split(row.flags, "|");
        EXPECT_LE(parts.size(), 3u) << id;
        for (size_t p = 0; p < parts.size() && p < 2; ++p)
            for (auto& f : split(parts[p], " ")) {
                if (f.empty() || (p == 0 && f.back() == ':' && std::string(row.names).find(f.substr(0, f.size() - 1)) != std::string::npos))
                    continue;
                EXPECT_TRUE(flags.count(f) && seen.insert(f).second) << id << ": " << row.flags;
            }
        if (parts.size() == 3) {
            EXPECT_EQ(parts[2], " of1") << id;
        }
        auto names = split(row.names, ",");
        for (auto& n : names) {
            EXPECT_FALSE(n.empty()) << id;
            for (char c : n)
                EXPECT_TRUE(std::islower(static_cast<unsigned char>(c)) || std::isdigit(static_cast<unsigned char>(c)))
                    << id << ": " << n;
        }

        // Only the prefixes have no forms, and movsxd and syscall (which
        // Intel processors refuse outside 64-bit mode) none in 32-bit mode.
        bool prefix = id == "rep" || id == "lock";
        EXPECT_EQ(*row.forms64 == 0, prefix) << id;
        EXPECT_EQ(*row.forms32 == 0, prefix || id == "movsxd" || id == "syscall") << id;
        for (const char* forms : { row.forms64, row.forms32 }) {
            std::string f = forms;
            EXPECT_TRUE(f.empty() || (f.front() != '\n' && f.back() != '\n' && f.find("\n\n\n") == std::string::npos))
                << id;
            for (auto& form : form_lines(forms)) {
                EXPECT_NE(std::find(names.begin(), names.end(), mnemonic_of(form)), names.end()) << id << ": " << form;
                for (auto& op : operands_of(form))
                    EXPECT_TRUE(classes.count(op)) << id << ": " << form;
                EXPECT_FALSE(forms == row.forms32 && only_in_64bit_mode(mnemonic_of(form))) << id << ": " << form;
            }
        }
        // Every name has a form in each mode where the instruction exists.
        for (auto& name : names) {
            for (bool is64 : { true, false }) {
                if (prefix || (is64 ? name == "jcxz" : only_in_64bit_mode(name) || name == "syscall"))
                    continue;
                auto lines = form_lines(is64 ? row.forms64 : row.forms32);
                EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [&](auto& l) { return mnemonic_of(l) == name; }))
                    << id << " has no " << (is64 ? 64 : 32) << "-bit form for " << name;
            }
        }
    }
}

TEST(RefdataInsns, FamilyRowsFollowTheConditionOrder)
{
    const char* ccs[] = { "e", "ne", "l", "le", "g", "ge", "b", "be", "a", "ae", "s", "ns", "o", "no", "p", "np" };
    std::map<std::string, std::vector<const refdata::Insn*>> fam;
    for (const auto& row : refdata::kInsns)
        if (*row.family)
            fam[row.family].push_back(&row);
    EXPECT_EQ(fam.size(), 3u);
    for (auto& [family, rows] : fam) {
        ASSERT_EQ(rows.size(), 16u) << family;
        for (size_t i = 0; i < 16; ++i) {
            EXPECT_STREQ(rows[i]->cc, ccs[i]);
            EXPECT_EQ(rows[i]->id, family + "_" + ccs[i]);
            EXPECT_EQ(split(rows[i]->names, ",")[0], family + ccs[i]);
            EXPECT_STREQ(rows[i]->flags, "");
        }
    }
}

TEST(RefdataInsns, EveryFormAssemblesInItsMode)
{
    TempDir dir;
    for (int bits : { 64, 32 }) {
        auto inst = instances(bits == 64, bits, false);
        auto a = assemble(inst, bits, dir);
        for (size_t i = 0; i < inst.size(); ++i) {
            int n = int(i) + 1;
            if (a.error_lines.count(n))
                ADD_FAILURE() << bits << "-bit " << inst[i].row << " \"" << inst[i].form << "\" as \"" << inst[i].text << "\"";
            else
                EXPECT_TRUE(a.code_lines.count(n)) << bits << "-bit \"" << inst[i].text << "\" made no code";
        }
        EXPECT_TRUE(a.error_lines.empty()) << a.output;
    }
}

TEST(RefdataInsns, FormsOfOnlyOneModeFailInTheOther)
{
    TempDir dir;
    for (bool list64 : { true, false }) {
        int other_bits = list64 ? 32 : 64;
        auto inst = instances(list64, other_bits, true);
        ASSERT_FALSE(inst.empty());
        auto a = assemble(inst, other_bits, dir);
        // A form exists in one mode only when at least one of its concrete
        // spellings is refused in the other (movq's memory spelling, for
        // one, is shared with another 32-bit form).
        std::map<std::string, bool> refused;
        std::map<std::string, std::string> example;
        for (size_t i = 0; i < inst.size(); ++i) {
            std::string key = inst[i].row + ": " + inst[i].form;
            refused[key] |= a.error_lines.count(int(i) + 1) != 0;
            example[key] = inst[i].text;
        }
        // NASM assembles syscall in 32-bit code; only AMD processors run it there.
        refused.erase("syscall: syscall");
        for (auto& [key, was_refused] : refused)
            EXPECT_TRUE(was_refused) << key << " is listed only for " << (list64 ? 64 : 32) << "-bit mode, but \""
                                     << example[key] << "\" assembles in " << other_bits << "-bit mode";
    }
}
