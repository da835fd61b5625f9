// The reference's instruction table: its shape, its family rows and, above
// all, that every operand form it shows really assembles with NASM in the
// mode it is listed for, and fails in the mode it is not listed for.
#include "refdata.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <cctype>
#include <map>
#include <set>
#include <sstream>

using namespace testutil;

namespace {

std::vector<std::string> split(const std::string& s, char sep)
{
    std::vector<std::string> out;
    if (s.empty())
        return out;
    std::string cur;
    for (char c : s) {
        if (c == sep) {
            out.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    out.push_back(cur);
    return out;
}

std::vector<std::string> form_lines(const char* forms)
{
    std::vector<std::string> out;
    for (auto& l : split(forms, '\n'))
        if (!l.empty())
            out.push_back(l);
    return out;
}

std::string mnemonic_of(const std::string& form)
{
    return form.substr(0, form.find(' '));
}

std::vector<std::string> operands_of(const std::string& form)
{
    auto sp = form.find(' ');
    if (sp == std::string::npos)
        return {};
    std::vector<std::string> out;
    std::string rest = form.substr(sp + 1);
    size_t pos = 0;
    while (true) {
        size_t comma = rest.find(", ", pos);
        out.push_back(rest.substr(pos, comma - pos));
        if (comma == std::string::npos)
            break;
        pos = comma + 2;
    }
    return out;
}

const std::set<std::string>& operand_classes()
{
    static const std::set<std::string> classes = {
        "r8", "r16", "r32", "r64", "m8", "m16", "m32", "m64", "m128", "m",
        "r/m8", "r/m16", "r/m32", "r/m64", "imm8", "imm16", "imm32", "imm64",
        "cl", "label", "xmm", "xmm/m32", "xmm/m64", "xmm/m128",
    };
    return classes;
}

bool is_32bit_only_mnemonic(const std::string& m)
{
    return m == "jcxz";
}

bool is_64bit_only_mnemonic(const std::string& m)
{
    static const std::set<std::string> only64 = { "cdqe", "cqo", "jrcxz", "movsq", "stosq",
                                                  "lodsq", "scasq", "cmpsq", "movsxd" };
    return only64.count(m) != 0;
}

enum class Variant { Registers, Memory };

// Turns an operand class into a concrete operand: the i-th register of the
// width, memory through rbx/ebx with its size word, or a number.
std::string concrete(const std::string& cls, size_t i, Variant v, int bits)
{
    static const char* regs8[] = { "al", "cl", "dl" };
    static const char* regs16[] = { "ax", "cx", "dx" };
    static const char* regs32[] = { "eax", "ecx", "edx" };
    static const char* regs64[] = { "rax", "rcx", "rdx" };
    std::string base = bits == 64 ? "[rbx]" : "[ebx]";
    auto mem = [&](int w) {
        switch (w) {
        case 8: return "byte " + base;
        case 16: return "word " + base;
        case 32: return "dword " + base;
        case 64: return "qword " + base;
        default: return base; // NASM refuses "oword" on some SSE forms
        }
    };
    auto reg = [&](int w) -> std::string {
        switch (w) {
        case 8: return regs8[i];
        case 16: return regs16[i];
        case 32: return regs32[i];
        default: return regs64[i];
        }
    };
    if (cls == "cl")
        return "cl";
    if (cls == "label")
        return "$";
    if (cls == "m")
        return base;
    if (cls == "xmm")
        return "xmm" + std::to_string(i);
    if (cls == "imm8")
        return "0x12";
    if (cls == "imm16")
        return "0x1234";
    if (cls == "imm32")
        return "0x12345678";
    if (cls == "imm64")
        return "0x123456789ABCDEF0";
    if (cls.rfind("xmm/m", 0) == 0)
        return v == Variant::Registers ? "xmm" + std::to_string(i) : mem(std::stoi(cls.substr(5)));
    if (cls.rfind("r/m", 0) == 0)
        return v == Variant::Registers ? reg(std::stoi(cls.substr(3))) : mem(std::stoi(cls.substr(3)));
    if (cls[0] == 'm')
        return mem(std::stoi(cls.substr(1)));
    return reg(std::stoi(cls.substr(1)));
}

std::string instantiate(const std::string& form, Variant v, int bits)
{
    auto ops = operands_of(form);
    std::string text = mnemonic_of(form);
    for (size_t i = 0; i < ops.size(); ++i)
        text += (i ? ", " : " ") + concrete(ops[i], i, v, bits);
    return text;
}

struct Assembled {
    std::set<int> error_lines; // source lines NASM reported an error for
    std::set<int> code_lines;  // source lines that produced bytes
    std::string output;
};

// Assembles the lines as one flat file in the given mode and reports which
// lines failed and which produced code.
Assembled assemble(const std::vector<std::string>& lines, int bits, const TempDir& dir)
{
    std::string src = "bits " + std::to_string(bits) + "\n";
    for (auto& l : lines)
        src += "    " + l + "\n";
    std::string asm_path = dir.file("forms" + std::to_string(bits) + ".asm");
    std::string lst_path = dir.file("forms" + std::to_string(bits) + ".lst");
    write_file(asm_path, src);
    auto r = run({ "nasm", "-f", "bin", "-l", lst_path, "-o", dir.file("forms.bin"), asm_path });
    Assembled a;
    a.output = r.out + r.err;
    std::istringstream diag(a.output);
    std::string line;
    std::string marker = asm_path + ":";
    while (std::getline(diag, line)) {
        if (line.rfind(marker, 0) != 0 || line.find(": error:") == std::string::npos)
            continue;
        a.error_lines.insert(std::atoi(line.c_str() + marker.size()) - 1);
    }
    std::istringstream lst(read_file(lst_path));
    while (std::getline(lst, line)) {
        if (line.size() < 18 || line[6] != ' ')
            continue;
        int n = std::atoi(line.substr(0, 6).c_str());
        if (n > 0 && std::isxdigit(static_cast<unsigned char>(line[16])))
            a.code_lines.insert(n - 1);
    }
    return a;
}

struct Instance {
    std::string text;
    std::string row;
    std::string form;
};

std::vector<Instance> instances(bool want64, int bits, bool exclusive)
{
    std::vector<Instance> out;
    for (const auto& row : refdata::kInsns) {
        auto mine = form_lines(want64 ? row.forms64 : row.forms32);
        auto other = form_lines(want64 ? row.forms32 : row.forms64);
        std::set<std::string> other_set(other.begin(), other.end());
        for (auto& f : mine) {
            if (exclusive && other_set.count(f))
                continue;
            out.push_back({ instantiate(f, Variant::Registers, bits), row.id, f });
            if (f.find("m") != std::string::npos && instantiate(f, Variant::Memory, bits) != out.back().text)
                out.push_back({ instantiate(f, Variant::Memory, bits), row.id, f });
        }
    }
    return out;
}

bool nasm_available()
{
    return run({ "nasm", "-v" }).code == 0;
}

} // namespace

TEST(RefdataInsns, ShapeOfTheTable)
{
    ASSERT_EQ(std::size(refdata::kInsns), 135u);
    std::set<std::string> ids;
    std::map<std::string, int> per_group;
    size_t mnemonics = 0;
    for (const auto& row : refdata::kInsns) {
        EXPECT_TRUE(ids.insert(row.id).second) << "duplicate id " << row.id;
        per_group[row.group]++;
        ASSERT_NE(row.example, nullptr);
        EXPECT_STRNE(row.example, "") << row.id;
        for (auto& n : split(row.names, ',')) {
            ++mnemonics;
            EXPECT_FALSE(n.empty()) << row.id;
            for (char c : n)
                EXPECT_TRUE(std::islower(static_cast<unsigned char>(c)) || std::isdigit(static_cast<unsigned char>(c)))
                    << row.id << ": " << n;
        }
    }
    EXPECT_EQ(mnemonics, 267u);
    std::map<std::string, int> expected = { { "data", 27 }, { "arith", 12 }, { "logic", 5 }, { "shift", 6 },
                                            { "bits", 20 }, { "jump", 21 }, { "stack", 4 }, { "string", 6 },
                                            { "flags", 3 }, { "system", 10 }, { "sse", 21 } };
    EXPECT_EQ(per_group, expected);
    EXPECT_STREQ(refdata::kInsns[0].id, "mov");
    EXPECT_STREQ(refdata::kInsns[0].example, "mov rax, 60\nmov ebx, [rel count]\nmov byte [rdi], 'A'");
    EXPECT_STREQ(refdata::kInsns[134].id, "pshufd");
}

TEST(RefdataInsns, FamilyRowsFollowTheConditionOrder)
{
    const char* ccs[] = { "e", "ne", "l", "le", "g", "ge", "b", "be", "a", "ae", "s", "ns", "o", "no", "p", "np" };
    std::map<std::string, std::vector<const refdata::Insn*>> fam;
    for (const auto& row : refdata::kInsns)
        if (*row.family)
            fam[row.family].push_back(&row);
    ASSERT_EQ(fam.size(), 3u);
    for (auto& [family, rows] : fam) {
        ASSERT_EQ(rows.size(), 16u) << family;
        for (size_t i = 0; i < 16; ++i) {
            const auto& r = *rows[i];
            EXPECT_STREQ(r.cc, ccs[i]);
            EXPECT_EQ(std::string(r.id), family + "_" + ccs[i]);
            EXPECT_EQ(split(r.names, ',')[0], family + ccs[i]);
            EXPECT_STREQ(r.flags, "");
        }
    }
    auto find = [](const char* id) -> const refdata::Insn* {
        for (const auto& row : refdata::kInsns)
            if (std::string(row.id) == id)
                return &row;
        return nullptr;
    };
    ASSERT_TRUE(find("j_b") && find("cmov_p") && find("set_ae"));
    EXPECT_STREQ(find("j_b")->names, "jb,jc,jnae");
    EXPECT_STREQ(find("cmov_p")->names, "cmovp,cmovpe");
    EXPECT_STREQ(find("j_ne")->example, "cmp rax, 10\njne target");
    EXPECT_STREQ(find("set_ae")->example, "cmp rax, rbx\nsetae al\nmovzx eax, al");
    EXPECT_STREQ(find("cwd")->names, "cqo,cdq,cwd");
    EXPECT_STREQ(find("add")->flags, "OF SF ZF AF PF CF");
    EXPECT_STREQ(find("lahf")->flags, "SF ZF AF PF CF");
}

TEST(RefdataInsns, FormListsUseTheNotationAndCoverEveryName)
{
    size_t longest = 0;
    std::string longest_id;
    for (const auto& row : refdata::kInsns) {
        std::string id = row.id;
        bool prefix = id == "rep" || id == "lock";
        EXPECT_EQ(*row.forms64 == 0, prefix) << id;
        EXPECT_EQ(*row.forms32 == 0, prefix || id == "movsxd") << id;
        for (const char* forms : { row.forms64, row.forms32 }) {
            std::string f = forms;
            if (f.empty())
                continue;
            EXPECT_NE(f.front(), '\n') << id;
            EXPECT_NE(f.back(), '\n') << id;
            EXPECT_EQ(f.find("\n\n\n"), std::string::npos) << id;
            size_t lines = split(f, '\n').size();
            if (lines > longest) {
                longest = lines;
                longest_id = id;
            }
            auto names = split(row.names, ',');
            for (auto& form : form_lines(forms)) {
                EXPECT_NE(std::find(names.begin(), names.end(), mnemonic_of(form)), names.end())
                    << id << ": " << form;
                for (auto& op : operands_of(form))
                    EXPECT_TRUE(operand_classes().count(op)) << id << ": " << form;
            }
        }
        // Every name has a form in each mode where the instruction exists.
        for (auto& name : split(row.names, ',')) {
            if (prefix)
                continue;
            for (bool is64 : { true, false }) {
                if ((!is64 && is_64bit_only_mnemonic(name)) || (is64 && is_32bit_only_mnemonic(name)))
                    continue;
                bool found = false;
                for (auto& form : form_lines(is64 ? row.forms64 : row.forms32))
                    found |= mnemonic_of(form) == name;
                EXPECT_TRUE(found) << id << " has no " << (is64 ? 64 : 32) << "-bit form for " << name;
            }
        }
        for (auto& form : form_lines(row.forms32))
            EXPECT_FALSE(is_64bit_only_mnemonic(mnemonic_of(form))) << id << ": " << form;
    }
    EXPECT_EQ(longest, 35u);
    EXPECT_EQ(longest_id, "bt");
}

TEST(RefdataInsns, TellingRowsHaveTheirDocumentedForms)
{
    const auto& mov = refdata::kInsns[0];
    auto m64 = split(mov.forms64, '\n');
    ASSERT_EQ(m64.size(), 16u);
    EXPECT_EQ(m64[0], "mov r/m8, imm8");
    EXPECT_EQ(m64[3], "");
    EXPECT_EQ(m64[12], "mov r64, r/m64");
    EXPECT_EQ(m64[15], "mov m64, imm32");
    auto m32 = split(mov.forms32, '\n');
    ASSERT_EQ(m32.size(), 11u);
    EXPECT_EQ(m32.back(), "mov m32, r32");
    for (const auto& row : refdata::kInsns) {
        if (std::string(row.id) == "lea") {
            EXPECT_STREQ(row.forms64, "lea r16, m\n\nlea r32, m\n\nlea r64, m");
            EXPECT_STREQ(row.forms32, "lea r16, m\n\nlea r32, m");
        }
    }
}

TEST(RefdataInsns, EveryFormAssemblesInItsMode)
{
    if (!nasm_available())
        GTEST_SKIP() << "nasm is not installed";
    TempDir dir;
    for (int bits : { 64, 32 }) {
        auto inst = instances(bits == 64, bits, false);
        std::vector<std::string> lines;
        for (auto& i : inst)
            lines.push_back(i.text);
        auto a = assemble(lines, bits, dir);
        for (size_t i = 0; i < inst.size(); ++i) {
            int n = int(i) + 1;
            EXPECT_FALSE(a.error_lines.count(n)) << bits << "-bit " << inst[i].row << " \"" << inst[i].form
                                                 << "\" as \"" << inst[i].text << "\"";
            if (!a.error_lines.count(n)) {
                EXPECT_TRUE(a.code_lines.count(n)) << bits << "-bit \"" << inst[i].text << "\" made no code";
            }
        }
        EXPECT_TRUE(a.error_lines.empty()) << a.output;
    }
}

TEST(RefdataInsns, FormsOfOnlyOneModeFailInTheOther)
{
    if (!nasm_available())
        GTEST_SKIP() << "nasm is not installed";
    TempDir dir;
    for (bool list64 : { true, false }) {
        int other_bits = list64 ? 32 : 64;
        auto inst = instances(list64, other_bits, true);
        ASSERT_FALSE(inst.empty());
        std::vector<std::string> lines;
        for (auto& i : inst)
            lines.push_back(i.text);
        auto a = assemble(lines, other_bits, dir);
        // A form exists in one mode only when at least one of its concrete
        // spellings is refused in the other (movq's memory spelling, for
        // one, is shared with another 32-bit form).
        std::map<std::string, bool> refused;
        std::map<std::string, std::string> example;
        for (size_t i = 0; i < inst.size(); ++i) {
            std::string key = inst[i].row + std::string(": ") + inst[i].form;
            refused[key] |= a.error_lines.count(int(i) + 1) != 0;
            example[key] = inst[i].text;
        }
        for (auto& [key, was_refused] : refused)
            EXPECT_TRUE(was_refused) << key << " is listed only for " << (list64 ? 64 : 32) << "-bit mode, but \""
                                     << example[key] << "\" assembles in " << other_bits << "-bit mode";
    }
}
