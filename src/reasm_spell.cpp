// Spellings that pin NASM to one encoding. An instruction that NASM would
// encode differently, or whose printed form it rejects, is tried in forms
// that state what the bytes hold: prefixes written out (o16, a32, ds,
// repne, ...), sized immediates ("strict word 1", "byte 1") and sized
// displacements ("[byte rsp+0]"). All candidates are assembled in one NASM
// run, each at its instruction's address; the first whose bytes match is
// kept. Only what fails every spelling is written as bytes.
#include "reasm_impl.h"

#include <cctype>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace reasm {

namespace {

// At most this many candidates go into one NASM run: each needs a section
// of its own, and NASM's time grows with the square of their number (3,000
// take half a second, 18,000 sixteen).
constexpr size_t kMaxCandidates = 3000;

bool is_ident_char(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$' || c == '.' || c == '?' || c == '@'
        || c == '#' || c == '~';
}

// Prefix words for the legacy prefixes and REX.W the bytes carry, in byte
// order; those the text already shows are left out.
std::string prefix_words(const dis::Insn& insn, int bits, const std::string& text)
{
    std::string words;
    auto shown = [&](const char* w) {
        std::string t = " " + text + " ";
        return t.find(std::string(" ") + w + " ") != std::string::npos;
    };
    int i = 0;
    for (; i < insn.len; ++i) {
        const char* w = nullptr;
        switch (insn.bytes[i]) {
        case 0x2E: w = "cs"; break;
        case 0x36: w = "ss"; break;
        case 0x3E: w = "ds"; break;
        case 0x26: w = "es"; break;
        case 0x64: w = "fs"; break;
        case 0x65: w = "gs"; break;
        case 0x66: w = bits == 16 ? "o32" : "o16"; break;
        case 0x67: w = bits == 32 ? "a16" : "a32"; break;
        case 0xF0: w = "lock"; break;
        case 0xF2: w = "repne"; break;
        case 0xF3: w = "rep"; break;
        default: break;
        }
        if (!w)
            break;
        if (!shown(w))
            words += std::string(w) + " ";
    }
    if (bits == 64 && i < insn.len && (insn.bytes[i] & 0xF8) == 0x48 && !shown("o64"))
        words += "o64 ";
    return words;
}

// The start of the last operand, or npos when the text has none.
size_t last_operand(const std::string& text, size_t mnemonic_end)
{
    if (mnemonic_end == std::string::npos)
        return std::string::npos;
    int depth = 0;
    size_t last = mnemonic_end + 1;
    for (size_t i = mnemonic_end; i < text.size(); ++i) {
        if (text[i] == '[')
            ++depth;
        else if (text[i] == ']')
            --depth;
        else if (text[i] == ',' && depth == 0)
            last = i + 1;
    }
    while (last < text.size() && text[last] == ' ')
        ++last;
    return last < text.size() ? last : std::string::npos;
}

} // namespace

std::vector<std::string> spellings(const dis::Insn& insn, int bits, const std::string& text)
{
    std::vector<std::string> out;
    if (insn.has_target || text.find(" wrt ") != std::string::npos)
        return out;
    // Prefix words that precede the mnemonic stay in front of it.
    size_t start = 0;
    static const char* const kPrefixWords[] = { "lock ", "rep ", "repe ", "repz ", "repne ", "repnz ", "bnd ",
                                                "notrack ", "xacquire ", "xrelease ", "cs ", "ss ", "ds ", "es ",
                                                "fs ", "gs " };
    for (bool more = true; more;) {
        more = false;
        for (const char* p : kPrefixWords) {
            std::string w = p;
            if (text.compare(start, w.size(), w) == 0) {
                start += w.size();
                more = true;
            }
        }
    }
    std::string head = text.substr(0, start);
    std::string body = text.substr(start);
    // "nop dword [rax], eax": NASM takes the memory operand only.
    if (body.rfind("nop ", 0) == 0) {
        size_t comma = body.find(", ");
        if (comma != std::string::npos)
            body = body.substr(0, comma);
    }

    std::vector<std::string> bodies { body };
    // "xchg rdi, rsi": either operand order is the same instruction.
    if (body.rfind("xchg ", 0) == 0 && body.find('[') == std::string::npos) {
        size_t comma = body.find(", ");
        if (comma != std::string::npos)
            bodies.push_back("xchg " + body.substr(comma + 2) + ", " + body.substr(5, comma - 5));
    }
    // A size word where NASM wants none ("prefetchw byte [rax]").
    size_t bracket = body.find('[');
    for (const char* size : { "byte ", "word ", "dword ", "qword ", "tword ", "oword ", "yword ", "zword " }) {
        std::string w = size;
        if (bracket != std::string::npos && bracket >= w.size() && body.find(',') == std::string::npos
            && body.compare(bracket - w.size(), w.size(), w) == 0) {
            bodies.push_back(body.substr(0, bracket - w.size()) + body.substr(bracket));
            break;
        }
    }
    std::vector<std::string> mems;
    for (const auto& b : bodies) {
        mems.push_back(b);
        size_t open = b.find('[');
        size_t close = b.find(']', open == std::string::npos ? 0 : open);
        if (open == std::string::npos || close == std::string::npos || b.compare(open + 1, 4, "rel ") == 0
            || b.compare(open + 1, 4, "abs ") == 0)
            continue;
        std::string inner = b.substr(open + 1, close - open - 1);
        if (inner.empty() || !std::isalpha(static_cast<unsigned char>(inner[0])))
            continue;
        size_t sign = inner.find_last_of("+-");
        bool has_disp = sign != std::string::npos && sign + 1 < inner.size()
            && std::isdigit(static_cast<unsigned char>(inner[sign + 1]));
        std::string disp = has_disp ? inner : inner + "+0";
        for (const char* size : { "byte ", "dword " })
            mems.push_back(b.substr(0, open + 1) + size + disp + b.substr(close));
    }

    std::vector<std::string> sized;
    for (const auto& m : mems) {
        sized.push_back(m);
        size_t sp = m.find(' ');
        size_t op = last_operand(m, sp);
        if (op == std::string::npos || m.find('[', op) != std::string::npos)
            continue;
        // A size the text already gives ("mov rcx, qword 0xFF") is replaced.
        size_t value = op;
        for (const char* size : { "byte ", "word ", "dword ", "qword " }) {
            std::string w = size;
            if (m.compare(op, w.size(), w) == 0)
                value = op + w.size();
        }
        char c = value < m.size() ? m[value] : '\0';
        if (!std::isdigit(static_cast<unsigned char>(c)) && c != '-')
            continue;
        for (const char* size : { "byte ", "strict byte ", "strict word ", "strict dword ", "strict qword " })
            sized.push_back(m.substr(0, op) + size + m.substr(value));
    }

    std::string prefixes = prefix_words(insn, bits, text);
    for (const auto& s : sized) {
        if (head + s != text)
            out.push_back(head + s);
        if (!prefixes.empty())
            out.push_back(prefixes + head + s);
    }
    return out;
}

int Writer::find_spellings(const std::set<uint64_t>& addrs)
{
    std::string nasm = tc::find_tool("nasm");
    if (nasm.empty())
        return 0;
    struct Candidate {
        uint64_t addr;
        std::string text;
    };
    std::vector<Candidate> cands;
    std::set<std::string> names;
    for (uint64_t a : addrs) {
        if (cands.size() >= kMaxCandidates)
            break;
        if (!m_code.count(a) || !m_spell_tried.insert(a).second)
            continue;
        m_spelling.erase(a);
        bool force = false;
        const dis::Insn insn = insn_at(a);
        std::string text = rewrite(insn, &force);
        for (auto& s : spellings(insn, m_bits, text)) {
            for (size_t i = 0; i < s.size();) {
                size_t j = i;
                while (j < s.size() && is_ident_char(s[j]))
                    ++j;
                if (j > i)
                    names.insert(s.substr(i, j - i));
                i = j + 1;
            }
            cands.push_back({ a, std::move(s) });
        }
    }
    if (cands.empty())
        return 0;

    // Every label a candidate names is defined at its address.
    std::string defs;
    int n = 0;
    for (const auto& [addr, list] : m_names)
        if (!list.empty() && names.count(list.front()))
            defs += "[section z" + std::to_string(n++) + " vstart=0x" + hex(addr) + " align=1]\n" + list.front() + ":\n";

    std::string dir = tc::temp_dir();
    std::string src = dir + "/spell.asm", bin = dir + "/spell.bin", lst = dir + "/spell.lst";
    std::vector<bool> dropped(cands.size(), false);
    std::vector<tc::ListEntry> entries;
    std::string bytes;
    for (int round = 0; round < 2; ++round) {
        std::string text = "bits " + std::to_string(m_bits) + "\n";
        int first_line = 2;
        for (size_t i = 0; i < cands.size(); ++i) {
            text += "[section s" + std::to_string(i) + " vstart=0x" + hex(cands[i].addr) + " align=1]\n";
            text += (dropped[i] ? std::string() : cands[i].text) + "\n";
        }
        text += defs;
        {
            std::ofstream f(src, std::ios::binary | std::ios::trunc);
            f << text;
        }
        unlink(bin.c_str());
        unlink(lst.c_str());
        auto r = tc::run({ nasm, "-f", "bin", "-l", lst, "-o", bin, src }, "", 60000);
        if (!r.started)
            return 0;
        if (r.status != 0) {
            // Drop the candidates NASM refused and assemble the rest.
            bool any = false;
            for (const auto& d : tc::parse_diags(r.out)) {
                if (!d.error || d.line < first_line)
                    continue;
                size_t i = size_t(d.line - first_line) / 2;
                if (i < cands.size() && !dropped[i])
                    any = dropped[i] = true;
            }
            if (!any)
                return 0;
            continue;
        }
        std::ifstream lf(lst, std::ios::binary), bf(bin, std::ios::binary);
        entries = tc::parse_listing(std::string(std::istreambuf_iterator<char>(lf), {}));
        bytes.assign(std::istreambuf_iterator<char>(bf), {});
        break;
    }
    if (entries.empty())
        return 0;

    // Sections follow each other in the file in the order written, so a
    // candidate's bytes start where the previous one's end.
    std::vector<uint64_t> len(cands.size(), 0);
    for (const auto& e : entries) {
        if (e.line < 3 || (e.line - 3) % 2 != 0)
            continue;
        size_t i = size_t(e.line - 3) / 2;
        if (i < cands.size())
            len[i] += e.len;
    }
    int found = 0;
    uint64_t pos = 0;
    for (size_t i = 0; i < cands.size(); ++i) {
        const dis::Insn insn = insn_at(cands[i].addr);
        bool same = !dropped[i] && len[i] == insn.len && pos + len[i] <= bytes.size()
            && bytes.compare(pos, len[i], reinterpret_cast<const char*>(insn.bytes), insn.len) == 0;
        pos += len[i];
        if (same && !m_spelling.count(cands[i].addr)) {
            m_spelling[cands[i].addr] = cands[i].text;
            ++found;
        }
    }
    return found;
}

} // namespace reasm
