#include "disasm.h"

#include <Zydis/Zydis.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace dis {

namespace {

// A name in a zero-padded slot of fixed width, copied whole without first
// measuring it.
template <size_t N>
struct Name {
    char s[N] = {};
    uint8_t n = 0;

    void set(const char* name)
    {
        size_t len = name ? strlen(name) : 0;
        if (len > N)
            return; // stays empty, which sends the instruction the general way
        memcpy(s, name, len);
        n = uint8_t(len);
    }
};

struct Context {
    ZydisDecoder decoder;
    ZydisFormatter formatter;
    ZydisMachineMode mode;
};

struct Contexts {
    Context c16, c32, c64;
    // Names with their lengths, looked up once instead of measured per line.
    std::string_view isa[ZYDIS_ISA_SET_MAX_VALUE + 1];
    Name<24> mnemonic[ZYDIS_MNEMONIC_MAX_VALUE + 1];
    Name<16> reg[ZYDIS_REGISTER_MAX_VALUE + 1];

    const Context& for_width(int bits) const { return bits == 16 ? c16 : bits == 32 ? c32 : c64; }

    Contexts()
    {
        init(c16, ZYDIS_MACHINE_MODE_REAL_16, ZYDIS_STACK_WIDTH_16);
        init(c32, ZYDIS_MACHINE_MODE_LEGACY_32, ZYDIS_STACK_WIDTH_32);
        init(c64, ZYDIS_MACHINE_MODE_LONG_64, ZYDIS_STACK_WIDTH_64);
        for (int i = 0; i <= ZYDIS_ISA_SET_MAX_VALUE; ++i)
            if (const char* name = ZydisISASetGetString(static_cast<ZydisISASet>(i)))
                isa[i] = name;
        for (int i = 0; i <= ZYDIS_MNEMONIC_MAX_VALUE; ++i)
            mnemonic[i].set(ZydisMnemonicGetString(static_cast<ZydisMnemonic>(i)));
        for (int i = 0; i <= ZYDIS_REGISTER_MAX_VALUE; ++i)
            reg[i].set(ZydisRegisterGetString(static_cast<ZydisRegister>(i)));
    }

    static void init(Context& c, ZydisMachineMode mode, ZydisStackWidth width)
    {
        c.mode = mode;
        ZydisDecoderInit(&c.decoder, mode, width);
        ZydisFormatterInit(&c.formatter, ZYDIS_FORMATTER_STYLE_INTEL);
        // Natural widths everywhere and no forced segment, so the text is
        // what a person would write in NASM.
        ZydisFormatterSetProperty(&c.formatter, ZYDIS_FORMATTER_PROP_FORCE_SEGMENT, 0);
        ZydisFormatterSetProperty(&c.formatter, ZYDIS_FORMATTER_PROP_ADDR_PADDING_ABSOLUTE, 0);
        ZydisFormatterSetProperty(&c.formatter, ZYDIS_FORMATTER_PROP_ADDR_PADDING_RELATIVE, 0);
        ZydisFormatterSetProperty(&c.formatter, ZYDIS_FORMATTER_PROP_DISP_PADDING, 0);
        ZydisFormatterSetProperty(&c.formatter, ZYDIS_FORMATTER_PROP_IMM_PADDING, 0);
    }
};

// Built once under the thread-safe initialisation of function-local statics,
// so the disassembly worker and the main thread may race to the first decode.
// Any width other than 16 or 32 decodes as 64-bit code.
int normal_width(int bits) { return bits == 16 || bits == 32 ? bits : 64; }

const Contexts& contexts()
{
    static const Contexts all;
    return all;
}

constexpr size_t npos = std::string::npos;

// The instruction's text while it is rewritten. The edits are searches and
// small insertions in a line of a few dozen bytes, so they run in a fixed
// buffer with vector compares instead of std::string calls into the C
// library, and the record's string receives the finished line in one copy.
class Line {
public:
    // The formatter writes at most 255 characters and the rewrites add some
    // 30 per visible operand; the direct way writes less. Both stay far below.
    static constexpr size_t capacity = 1024;

    char* data() { return m_s; }
    const char* data() const { return m_s; }
    size_t size() const { return m_n; }
    bool empty() const { return m_n == 0; }
    char operator[](size_t i) const { return m_s[i]; }
    std::string_view view() const { return { m_s, m_n }; }
    void set_size(size_t n) { m_n = n; }

    void assign(std::string_view v)
    {
        memcpy(m_s, v.data(), v.size());
        m_n = v.size();
    }

    bool operator==(std::string_view v) const { return m_n == v.size() && memcmp(m_s, v.data(), v.size()) == 0; }
    bool starts_with(std::string_view v) const { return m_n >= v.size() && memcmp(m_s, v.data(), v.size()) == 0; }

    size_t find(char c, size_t from = 0) const { return find_pair(c, 0, 1, from, {}); }
    size_t find(std::string_view p, size_t from = 0) const
    {
        if (p.size() == 1)
            return find(p[0], from);
        return find_pair(p[0], p[1], p.size(), from, p.substr(2));
    }
    bool contains(std::string_view p) const { return find(p) != npos; }

    size_t rfind(std::string_view p) const
    {
        for (size_t i = m_n; i-- > 0;)
            if (i + p.size() <= m_n && memcmp(m_s + i, p.data(), p.size()) == 0)
                return i;
        return npos;
    }

    void replace(size_t pos, size_t len, std::string_view to)
    {
        if (m_n - len + to.size() > capacity)
            return; // unreachable given the bound above; keeps the buffer whole
        memmove(m_s + pos + to.size(), m_s + pos + len, m_n - pos - len);
        if (!to.empty())
            memcpy(m_s + pos, to.data(), to.size());
        m_n = m_n - len + to.size();
    }
    void insert(size_t pos, std::string_view what) { replace(pos, 0, what); }
    void erase(size_t pos, size_t len) { replace(pos, len, {}); }

    void append(std::string_view v)
    {
        if (m_n + v.size() > capacity)
            return; // unreachable given the bound above; keeps the buffer whole
        memcpy(m_s + m_n, v.data(), v.size());
        m_n += v.size();
    }

    // A name from a zero-padded slot: one fixed-width copy, then the length.
    template <size_t N>
    void append(const Name<N>& name)
    {
        if (m_n + N > capacity)
            return;
        memcpy(m_s + m_n, name.s, N);
        m_n += name.n;
    }

    bool ends_with(std::string_view v) const { return view().ends_with(v); }

    // "0x" and upper-case digits without padding, as the formatter writes them.
    void append_hex(uint64_t v)
    {
        if (m_n + 18 > capacity)
            return;
        const int digits = v ? (67 - __builtin_clzll(v)) / 4 : 1;
        char* p = m_s + m_n;
        p[0] = '0';
        p[1] = 'x';
        for (int k = digits + 1; k >= 2; --k, v >>= 4)
            p[k] = "0123456789ABCDEF"[v & 15];
        m_n += digits + 2;
    }

    void replace_all(std::string_view from, std::string_view to)
    {
        size_t pos = find(from);
        while (pos != npos) {
            replace(pos, from.size(), to);
            pos = find(from, pos + to.size());
        }
    }

private:
    // First position >= from where `a` (then `b` when m > 1, then `rest`)
    // begins a match of length m.
    size_t find_pair(char a, char b, size_t m, size_t from, std::string_view rest) const
    {
        if (from + m > m_n)
            return npos;
        const size_t last = m_n - m; // the last possible start
#if defined(__SSE2__)
        const __m128i va = _mm_set1_epi8(a), vb = _mm_set1_epi8(b);
        for (size_t i = from; i <= last; i += 16) {
            unsigned mask = _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(m_s + i)), va));
            if (m > 1)
                mask &= _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(m_s + i + 1)), vb));
            if (last - i < 15)
                mask &= (2u << (last - i)) - 1;
            for (; mask; mask &= mask - 1) {
                size_t at = i + __builtin_ctz(mask);
                if (rest.empty() || memcmp(m_s + at + 2, rest.data(), rest.size()) == 0)
                    return at;
            }
        }
#else
        for (size_t at = from; at <= last; ++at)
            if (m_s[at] == a && (m == 1 || m_s[at + 1] == b) && (rest.empty() || memcmp(m_s + at + 2, rest.data(), rest.size()) == 0))
                return at;
#endif
        return npos;
    }

    size_t m_n = 0;
    // Vector reads may look up to 16 bytes past the end of the text.
    char m_s[capacity + 32];
};

void insert_after_bracket(Line& t, std::string_view what)
{
    size_t b = t.find('[');
    if (b != npos)
        t.insert(b + 1, what);
}

bool is_gpr(ZydisRegister r)
{
    switch (ZydisRegisterGetClass(r)) {
    case ZYDIS_REGCLASS_GPR8:
    case ZYDIS_REGCLASS_GPR16:
    case ZYDIS_REGCLASS_GPR32:
    case ZYDIS_REGCLASS_GPR64:
        return true;
    default:
        return false;
    }
}

std::string reg_name(ZydisRegister r)
{
    if (r == ZYDIS_REGISTER_NONE)
        return {};
    const char* s = ZydisRegisterGetString(r);
    return s ? std::string(s) : std::string();
}

// The widest register that contains `r` in this mode; the register itself
// when the library knows none (segment, control, x87 and mask registers).
std::string widened(const Context& c, ZydisRegister r, int bits)
{
    if (r == ZYDIS_REGISTER_RIP || r == ZYDIS_REGISTER_EIP || r == ZYDIS_REGISTER_IP)
        return bits == 64 ? "rip" : "eip";
    ZydisRegister big = ZydisRegisterGetLargestEnclosing(c.mode, r);
    return reg_name(big != ZYDIS_REGISTER_NONE ? big : r);
}

const char* size_word(unsigned bits, bool x87)
{
    switch (bits) {
    case 8: return "byte ";
    case 16: return "word ";
    case 32: return "dword ";
    case 64: return "qword ";
    case 80: return x87 ? "tword " : nullptr;
    case 128: return "oword ";
    case 256: return "yword ";
    case 512: return "zword ";
    default: return nullptr;
    }
}

bool is_far_load(ZydisMnemonic m)
{
    return m == ZYDIS_MNEMONIC_LDS || m == ZYDIS_MNEMONIC_LES || m == ZYDIS_MNEMONIC_LFS
        || m == ZYDIS_MNEMONIC_LGS || m == ZYDIS_MNEMONIC_LSS;
}

void add_size_word(Line& t, const ZydisDecodedInstruction& in, const ZydisDecodedOperand* ops, int idx, const Context& c)
{
    const ZydisDecodedOperand& mem = ops[idx];
    for (int j = 0; j < in.operand_count_visible; ++j) {
        if (j != idx && ops[j].type == ZYDIS_OPERAND_TYPE_REGISTER
            && ZydisRegisterGetWidth(c.mode, ops[j].reg.value) == mem.size)
            return;
    }
    const char* word = size_word(mem.size, !t.empty() && t[0] == 'f');
    size_t b = t.find('[');
    if (!word || b == npos || t.contains(" far "))
        return;
    std::string_view before(t.data(), b);
    if (before.ends_with("word ") || before.ends_with("byte "))
        return;
    t.insert(b, word);
}

// Far pointer operands: NASM refuses "far" with an immediate segment:offset
// and needs the operand size spelled out when it differs from the code width.
void fix_far_pointer(Line& t, const ZydisDecodedOperand& op, int bits)
{
    size_t far = t.find(" far ");
    if (far != npos)
        t.erase(far, 4);
    int offset_bits = op.size > 32 ? 32 : 16; // ptr16:16 is 32 bits, ptr16:32 is 48
    if (offset_bits != (bits == 64 ? 32 : bits)) {
        size_t sp = t.find(' ');
        if (sp != npos)
            t.insert(sp + 1, offset_bits == 32 ? "dword " : "word ");
    }
}

// The size the general formatter spells out on a memory operand: the
// operand's own when no neighbouring operand implies it, else none.
unsigned cast_size(const ZydisDecodedInstruction& in, const ZydisDecodedOperand* ops, int i)
{
    switch (i) {
    case 0:
        if (in.operand_count_visible < 2 || ops[1].type == ZYDIS_OPERAND_TYPE_UNUSED
            || ops[1].type == ZYDIS_OPERAND_TYPE_IMMEDIATE || ops[0].size != ops[1].size)
            return ops[0].size;
        if (ops[1].type == ZYDIS_OPERAND_TYPE_REGISTER && ops[1].visibility == ZYDIS_OPERAND_VISIBILITY_IMPLICIT
            && ops[1].reg.value == ZYDIS_REGISTER_CL)
            return ops[0].size;
        return 0;
    case 1:
    case 2:
        return ops[i - 1].size != ops[i].size ? ops[i].size : 0;
    default:
        return 0;
    }
}

// Writes the finished text of the common instruction shapes straight from
// the decoded fields: the same text format_general produces, at a fraction
// of its cost. Returns false, with `t` in any state, for every shape it does
// not know, which then takes the general way.
bool format_simple(Line& t, const Contexts& all, const Context& c, const ZydisDecodedInstruction& in,
    const ZydisDecodedOperand* ops, int bits, uint64_t addr, bool* has_mem, uint64_t* mem)
{
    // Printed prefixes, segments other than the defaults, decorators and
    // far forms all stay with the formatter.
    if (in.encoding != ZYDIS_INSTRUCTION_ENCODING_LEGACY && in.encoding != ZYDIS_INSTRUCTION_ENCODING_VEX)
        return false;
    constexpr ZydisInstructionAttributes printed = ZYDIS_ATTRIB_HAS_LOCK | ZYDIS_ATTRIB_HAS_REP | ZYDIS_ATTRIB_HAS_REPE
        | ZYDIS_ATTRIB_HAS_REPNE | ZYDIS_ATTRIB_HAS_BND | ZYDIS_ATTRIB_HAS_XACQUIRE | ZYDIS_ATTRIB_HAS_XRELEASE
        | ZYDIS_ATTRIB_HAS_NOTRACK | ZYDIS_ATTRIB_HAS_SEGMENT | ZYDIS_ATTRIB_HAS_BRANCH_TAKEN
        | ZYDIS_ATTRIB_HAS_BRANCH_NOT_TAKEN;
    if (in.attributes & printed)
        return false;
    for (int k = 0; k < in.raw.prefix_count; ++k) {
        const uint8_t p = in.raw.prefixes[k].value;
        const bool rex = bits == 64 && p >= 0x40 && p <= 0x4F;
        const bool mandatory = (p == 0xF2 || p == 0xF3) && in.raw.prefixes[k].type == ZYDIS_PREFIX_TYPE_MANDATORY;
        if (p != 0x66 && !rex && !mandatory)
            return false;
    }
    if (in.meta.branch_type == ZYDIS_BRANCH_TYPE_FAR || is_far_load(in.mnemonic) || in.mnemonic < 0
        || in.mnemonic > ZYDIS_MNEMONIC_MAX_VALUE)
        return false;
    const Name<24>& mnemonic = all.mnemonic[in.mnemonic];
    if (mnemonic.n == 0 || mnemonic.s[0] == 'f') // x87 and the renamed no-ops
        return false;

    const int visible = in.operand_count_visible;
    int mems = 0;
    for (int i = 0; i < visible; ++i)
        mems += ops[i].type == ZYDIS_OPERAND_TYPE_MEMORY;
    if (mems > 1)
        return false;

    t.set_size(0);
    t.append(mnemonic);
    for (int i = 0; i < visible; ++i) {
        const ZydisDecodedOperand& op = ops[i];
        t.append(i == 0 ? " " : ", ");
        switch (op.type) {
        case ZYDIS_OPERAND_TYPE_REGISTER: {
            if (op.reg.value <= ZYDIS_REGISTER_NONE || op.reg.value > ZYDIS_REGISTER_MAX_VALUE || all.reg[op.reg.value].n == 0)
                return false;
            t.append(all.reg[op.reg.value]);
            break;
        }
        case ZYDIS_OPERAND_TYPE_IMMEDIATE: {
            if (op.imm.is_relative) {
                ZyanU64 target = 0;
                if (!ZYAN_SUCCESS(ZydisCalcAbsoluteAddress(&in, &op, addr, &target)))
                    return false;
                t.append_hex(target);
                break;
            }
            uint64_t v = op.imm.value.u;
            switch (in.operand_width) {
            case 8: v = uint8_t(v); break;
            case 16: v = uint16_t(v); break;
            case 32: v = uint32_t(v); break;
            case 64: break;
            default: return false;
            }
            t.append_hex(v);
            break;
        }
        case ZYDIS_OPERAND_TYPE_MEMORY: {
            const ZydisMemoryOperandType kind = op.mem.type;
            const ZydisRegister base = op.mem.base, index = op.mem.index;
            if ((kind != ZYDIS_MEMOP_TYPE_MEM && kind != ZYDIS_MEMOP_TYPE_AGEN)
                || (op.mem.segment != ZYDIS_REGISTER_DS && op.mem.segment != ZYDIS_REGISTER_SS)
                || base <= ZYDIS_REGISTER_NONE || base > ZYDIS_REGISTER_MAX_VALUE || all.reg[base].n == 0
                || index < ZYDIS_REGISTER_NONE || index > ZYDIS_REGISTER_MAX_VALUE
                || (index != ZYDIS_REGISTER_NONE && (all.reg[index].n == 0 || !is_gpr(index)))
                || op.mem.scale > 8)
                return false;
            if (kind == ZYDIS_MEMOP_TYPE_MEM) {
                const unsigned cast = cast_size(in, ops, i);
                const char* word = nullptr;
                if (cast) {
                    word = size_word(cast, false);
                    if (!word || cast == 80)
                        return false;
                } else {
                    bool implied = false;
                    for (int j = 0; j < visible; ++j)
                        if (j != i && ops[j].type == ZYDIS_OPERAND_TYPE_REGISTER
                            && ZydisRegisterGetWidth(c.mode, ops[j].reg.value) == op.size)
                            implied = true;
                    if (!implied && !t.ends_with("word ") && !t.ends_with("byte "))
                        word = size_word(op.size, false);
                }
                if (word)
                    t.append(word);
            }
            t.append("[");
            if (base == ZYDIS_REGISTER_RIP || base == ZYDIS_REGISTER_EIP || base == ZYDIS_REGISTER_IP) {
                ZyanU64 abs = 0;
                if (base != ZYDIS_REGISTER_RIP || index != ZYDIS_REGISTER_NONE
                    || !ZYAN_SUCCESS(ZydisCalcAbsoluteAddress(&in, &op, addr, &abs)))
                    return false;
                *has_mem = true;
                *mem = abs;
                t.append("rel ");
                t.append_hex(abs);
            } else {
                t.append(all.reg[base]);
                if (index != ZYDIS_REGISTER_NONE) {
                    t.append("+");
                    t.append(all.reg[index]);
                    if (op.mem.scale == 2 || op.mem.scale == 4 || op.mem.scale == 8) {
                        const char scale[2] = { '*', char('0' + op.mem.scale) };
                        t.append({ scale, 2 });
                    }
                }
                if (op.mem.disp.has_displacement && op.mem.disp.value) {
                    const int64_t d = op.mem.disp.value;
                    t.append(d < 0 ? "-" : "+");
                    t.append_hex(d < 0 ? 0 - uint64_t(d) : uint64_t(d));
                }
            }
            t.append("]");
            break;
        }
        default:
            return false;
        }
    }
    return true;
}

// The formatter's text with the rewrites that make it NASM's.
bool format_general(Line& t, const Context& c, const ZydisDecodedInstruction& in, const ZydisDecodedOperand* ops,
    int bits, uint64_t addr, bool* has_mem, uint64_t* mem)
{
    if (!ZYAN_SUCCESS(ZydisFormatterFormatInstruction(&c.formatter, &in, ops, in.operand_count_visible, t.data(), 256, addr, nullptr)))
        return false;
    t.set_size(strlen(t.data()));
    *has_mem = false;
    *mem = 0;

    // The edits between brackets cannot apply to a line without any, which
    // is most of them.
    const bool bracket = t.find('[') != npos;
    if (t.contains(" ptr "))
        t.replace_all(" ptr ", " ");
    if (bracket && t.contains(":[")) {
        for (const char* seg : { "es", "cs", "ss", "ds", "fs", "gs" }) {
            const char from[4] = { seg[0], seg[1], ':', '[' };
            const char to[4] = { '[', seg[0], seg[1], ':' };
            t.replace_all({ from, 4 }, { to, 4 });
        }
    }
    if (bracket && (t.contains("word [") || t.contains("tbyte ["))) {
        t.replace_all("xmmword [", "oword [");
        t.replace_all("ymmword [", "yword [");
        t.replace_all("zmmword [", "zword [");
        t.replace_all("tbyte [", "tword [");
        t.replace_all("fword [", "[");
    }
    if (t == "fdisi8087_nop")
        t.assign("fndisi");
    else if (t == "feni8087_nop")
        t.assign("fneni");
    else if (t == "fsetpm287_nop")
        t.assign("fsetpm");
    else if (t.starts_with("ret far"))
        t.replace(0, 7, "retf");

    const int visible = in.operand_count_visible;
    for (int i = 0; i < visible; ++i) {
        const ZydisDecodedOperand& op = ops[i];
        if (op.type == ZYDIS_OPERAND_TYPE_MEMORY && op.mem.base == ZYDIS_REGISTER_RIP) {
            ZyanU64 abs = 0;
            if (ZYAN_SUCCESS(ZydisCalcAbsoluteAddress(&in, &op, addr, &abs))) {
                *has_mem = true;
                *mem = abs;
            }
            insert_after_bracket(t, "rel ");
        }
    }

    for (int i = 0; i < visible; ++i) {
        const ZydisDecodedOperand& op = ops[i];
        if (op.type == ZYDIS_OPERAND_TYPE_POINTER) {
            fix_far_pointer(t, op, bits);
            continue;
        }
        if (op.type != ZYDIS_OPERAND_TYPE_MEMORY
            || (op.mem.type != ZYDIS_MEMOP_TYPE_MEM && op.mem.type != ZYDIS_MEMOP_TYPE_AGEN))
            continue;
        if (is_far_load(in.mnemonic)) {
            for (const char* w : { "dword [", "tword [", "qword [" }) {
                size_t p = t.find(w);
                if (p != npos)
                    t.erase(p, strlen(w) - 1);
            }
        } else if (op.mem.type == ZYDIS_MEMOP_TYPE_MEM) {
            add_size_word(t, in, ops, i, c);
        }
        const ZydisRegister base = op.mem.base, index = op.mem.index;
        if (base == ZYDIS_REGISTER_NONE && index != ZYDIS_REGISTER_NONE && op.mem.scale <= 2 && is_gpr(index)) {
            // NASM would otherwise split [eax*2] into [eax+eax].
            insert_after_bracket(t, "nosplit ");
        } else if (base != ZYDIS_REGISTER_NONE && index != ZYDIS_REGISTER_NONE && op.mem.scale <= 1 && is_gpr(index)) {
            std::string pat = "+" + reg_name(index) + "*1";
            for (size_t p = t.find(pat); p != npos; p = t.find(pat, p + 1)) {
                size_t after = p + pat.size();
                if (after < t.size() && (t[after] == ']' || t[after] == '+' || t[after] == '-')) {
                    t.erase(after - 2, 2);
                    break;
                }
            }
        } else if (base == ZYDIS_REGISTER_NONE && index == ZYDIS_REGISTER_NONE) {
            if (bits == 64) {
                if (op.mem.segment != ZYDIS_REGISTER_FS && op.mem.segment != ZYDIS_REGISTER_GS) {
                    insert_after_bracket(t, in.raw.disp.size == 64 ? "abs qword "
                            : in.address_width == 32             ? "abs dword "
                                                                 : "abs ");
                }
            } else if (in.address_width != bits) {
                insert_after_bracket(t, in.address_width == 32 ? "dword " : "word ");
            }
        }
    }

    return true;
}

const char* width_prefix(char kind, unsigned width)
{
    if (kind == 'o')
        return width == 16 ? "o16 " : width == 32 ? "o32 " : "o64 ";
    return width == 16 ? "a16 " : width == 32 ? "a32 " : "a64 ";
}

bool has_visible_memory(const ZydisDecodedInstruction& in, const ZydisDecodedOperand* ops)
{
    for (int i = 0; i < in.operand_count_visible; ++i)
        if (ops[i].type == ZYDIS_OPERAND_TYPE_MEMORY)
            return true;
    return false;
}

// The bytes as data with the instruction beside them, for encodings NASM
// has no spelling of: the line still assembles to the same bytes.
void as_bytes(Line& t, const uint8_t* bytes, size_t len)
{
    Line meaning;
    meaning.assign(t.view());
    t.assign("db ");
    for (size_t k = 0; k < len; ++k) {
        const char hex[6] = { ',', ' ', '0', 'x', "0123456789ABCDEF"[bytes[k] >> 4], "0123456789ABCDEF"[bytes[k] & 15] };
        t.append(k ? std::string_view(hex, 6) : std::string_view(hex + 2, 4));
    }
    t.append(" ; ");
    t.append(meaning.view());
}

void drop_size_word(Line& t)
{
    size_t b = t.find('[');
    if (b == npos)
        return;
    for (std::string_view w : { "zword ", "yword ", "oword ", "qword ", "dword ", "word ", "byte " })
        if (b >= w.size() && std::string_view(t.data() + b - w.size(), w.size()) == w) {
            t.erase(b - w.size(), w.size());
            return;
        }
}

void ensure_size_word(Line& t, unsigned bits)
{
    size_t b = t.find('[');
    const char* word = size_word(bits, false);
    if (b == npos || !word)
        return;
    std::string_view before(t.data(), b);
    if (!before.ends_with("word ") && !before.ends_with("byte "))
        t.insert(b, word);
}

// What the formatter leaves implicit but NASM cannot infer: an operand or
// address size that only a prefix carries, a segment override on an operand
// the text does not show, the place of a rounding operand, size words NASM
// refuses or needs. Returns false when the bytes were written as data.
bool spell_for_nasm(Line& t, const ZydisDecodedInstruction& in, const ZydisDecodedOperand* ops, int bits,
    const uint8_t* bytes, uint64_t addr, bool* has_mem, uint64_t* mem)
{
    const ZydisMnemonic m = in.mnemonic;
    const int visible = in.operand_count_visible;
    const bool far = in.meta.branch_type == ZYDIS_BRANCH_TYPE_FAR;

    // Encodings NASM cannot write (NASM takes wait for a prefix of its own, so
    // a prefix before it would move behind it).
    const bool both16 = visible == 2 && ops[0].size == 16 && ops[1].size == 16;
    const bool nop_form = m == ZYDIS_MNEMONIC_NOP && visible >= 1;
    const bool nasm_nop = nop_form && in.opcode_map == ZYDIS_OPCODE_MAP_0F && in.opcode == 0x1F && in.raw.modrm.reg == 0;
    if (((m == ZYDIS_MNEMONIC_MOVZX || m == ZYDIS_MNEMONIC_MOVSX) && both16)
        || (m == ZYDIS_MNEMONIC_MOVSXD && visible == 2 && ops[0].size != 64)
        || (m == ZYDIS_MNEMONIC_BSWAP && visible == 1 && ops[0].size == 16) || m == ZYDIS_MNEMONIC_FSTPNCE
        || (nop_form && !nasm_nop) || (m == ZYDIS_MNEMONIC_PREFETCH && in.raw.modrm.reg > 1)
        || (m == ZYDIS_MNEMONIC_FWAIT && (in.attributes & (ZYDIS_ATTRIB_HAS_ADDRESSSIZE | ZYDIS_ATTRIB_HAS_SEGMENT)))) {
        if (visible == 2 && ops[1].type == ZYDIS_OPERAND_TYPE_MEMORY && m != ZYDIS_MNEMONIC_NOP)
            ensure_size_word(t, ops[1].size);
        if (nop_form && visible == 2 && ops[0].type == ZYDIS_OPERAND_TYPE_MEMORY) {
            size_t comma = t.rfind(", ");
            if (comma != npos)
                t.set_size(comma);
            ensure_size_word(t, ops[0].size);
        }
        as_bytes(t, bytes, in.length);
        return false;
    }
    if (nasm_nop && visible == 2) {
        // NASM's nop takes one operand: nop dword [rax+rax], nop eax.
        size_t comma = t.rfind(", ");
        if (comma != npos)
            t.set_size(comma);
        if (ops[0].type == ZYDIS_OPERAND_TYPE_MEMORY)
            ensure_size_word(t, ops[0].size);
    }

    // Sizes NASM refuses (the access of a cache-line flush or prefetch, the half of an
    // MMX unpack, the pair of bound) or needs (crc32 names its source width).
    if (m == ZYDIS_MNEMONIC_CLFLUSH || m == ZYDIS_MNEMONIC_CLFLUSHOPT || m == ZYDIS_MNEMONIC_CLWB
        || m == ZYDIS_MNEMONIC_BOUND || m == ZYDIS_MNEMONIC_PREFETCH
        || ((m == ZYDIS_MNEMONIC_PUNPCKLBW || m == ZYDIS_MNEMONIC_PUNPCKLWD || m == ZYDIS_MNEMONIC_PUNPCKLDQ)
            && visible == 2 && ops[0].type == ZYDIS_OPERAND_TYPE_REGISTER
            && ZydisRegisterGetClass(ops[0].reg.value) == ZYDIS_REGCLASS_MMX))
        drop_size_word(t);
    if (m == ZYDIS_MNEMONIC_CRC32 && visible == 2 && ops[1].type == ZYDIS_OPERAND_TYPE_MEMORY)
        ensure_size_word(t, ops[1].size);

    // Embedded rounding and exception suppression are an operand of their own.
    for (std::string_view r : { " {rn-sae}", " {rd-sae}", " {ru-sae}", " {rz-sae}", " {sae}" }) {
        size_t p = t.find(r);
        if (p != npos && (p == 0 || t[p - 1] != ','))
            t.insert(p, ",");
    }

    // Operand size: a push of a number names it, the stack and far forms
    // take NASM's o16/o32/o64.
    const bool seg_reg = visible >= 1 && ops[0].type == ZYDIS_OPERAND_TYPE_REGISTER
        && ZydisRegisterGetClass(ops[0].reg.value) == ZYDIS_REGCLASS_SEGMENT;
    if (m == ZYDIS_MNEMONIC_PUSH && visible == 1 && ops[0].type == ZYDIS_OPERAND_TYPE_IMMEDIATE
        && in.operand_width != unsigned(bits)) {
        size_t sp = t.find(' ');
        if (sp != npos)
            t.insert(sp + 1, in.operand_width == 16 ? "word " : in.operand_width == 32 ? "dword " : "qword ");
    } else if (((m == ZYDIS_MNEMONIC_RET || m == ZYDIS_MNEMONIC_LEAVE || m == ZYDIS_MNEMONIC_ENTER) && !far)
        || ((m == ZYDIS_MNEMONIC_PUSH || m == ZYDIS_MNEMONIC_POP) && seg_reg)) {
        if (in.operand_width != unsigned(bits))
            t.insert(0, width_prefix('o', in.operand_width));
        else if (m == ZYDIS_MNEMONIC_RET && bits == 64 && (in.attributes & ZYDIS_ATTRIB_HAS_OPERANDSIZE))
            t.insert(0, "o16 "); // Intel ignores it, AMD pops two bytes: kept as written
    } else if (m == ZYDIS_MNEMONIC_RET && far) {
        if (in.operand_width != unsigned(bits == 64 ? 32 : bits))
            t.insert(0, width_prefix('o', in.operand_width));
    } else if (far && visible == 1 && ops[0].type == ZYDIS_OPERAND_TYPE_MEMORY) {
        // m16:16, m16:32 or m16:64; NASM's plain "far" is the code width.
        const unsigned offset = ops[0].size - 16;
        size_t p = t.find("far [");
        if (p != npos && offset != unsigned(bits) && size_word(offset, false))
            t.insert(p + 4, size_word(offset, false));
    }
    if (t == "pushf" || t == "popf") {
        if (bits != 16)
            t.append("w");
    }

    // Address size and segment of an operand the text does not show: string
    // instructions, xlat, loop. A counter jump says its width by its name.
    const bool shown_memory = has_visible_memory(in, ops);
    const bool branch_prefixes = in.meta.category == ZYDIS_CATEGORY_COND_BR
        || in.meta.category == ZYDIS_CATEGORY_UNCOND_BR || in.meta.category == ZYDIS_CATEGORY_CALL
        || in.meta.category == ZYDIS_CATEGORY_RET;
    if (!shown_memory && (in.attributes & ZYDIS_ATTRIB_HAS_SEGMENT) && !branch_prefixes
        && !(in.attributes & ZYDIS_ATTRIB_HAS_NOTRACK)) {
        static const std::pair<ZydisInstructionAttributes, const char*> kSegs[] = {
            { ZYDIS_ATTRIB_HAS_SEGMENT_CS, "cs " }, { ZYDIS_ATTRIB_HAS_SEGMENT_SS, "ss " },
            { ZYDIS_ATTRIB_HAS_SEGMENT_DS, "ds " }, { ZYDIS_ATTRIB_HAS_SEGMENT_ES, "es " },
            { ZYDIS_ATTRIB_HAS_SEGMENT_FS, "fs " }, { ZYDIS_ATTRIB_HAS_SEGMENT_GS, "gs " },
        };
        for (const auto& [flag, name] : kSegs)
            if (in.attributes & flag) {
                t.insert(0, name);
                break;
            }
    }
    const bool counter_jump = m == ZYDIS_MNEMONIC_JCXZ || m == ZYDIS_MNEMONIC_JECXZ || m == ZYDIS_MNEMONIC_JRCXZ;
    bool address_prefix = false;
    for (int i = 0; i < visible; ++i) {
        const ZydisDecodedOperand& op = ops[i];
        if (op.type != ZYDIS_OPERAND_TYPE_MEMORY)
            continue;
        if (op.mem.base == ZYDIS_REGISTER_EIP && bits == 64) {
            // EIP-relative: NASM writes it as [rel ...] under a32.
            size_t b = t.find('['), e = t.find(']');
            ZyanU64 abs = 0;
            if (b == npos || e == npos || e < b || !ZYAN_SUCCESS(ZydisCalcAbsoluteAddress(&in, &op, addr, &abs)))
                continue;
            size_t from = b + 1;
            if (from + 3 <= e && t[from + 2] == ':')
                from += 3;
            if (e < from)
                continue;
            t.erase(from, e - from);
            Line rel;
            rel.assign("rel ");
            rel.append_hex(abs & 0xFFFFFFFFu);
            t.insert(from, rel.view());
            *has_mem = true;
            *mem = abs & 0xFFFFFFFFu;
            address_prefix = true;
        } else if (bits == 64 && op.mem.base == ZYDIS_REGISTER_NONE && op.mem.index == ZYDIS_REGISTER_NONE) {
            // A 32-bit absolute address is zero-extended under a32; NASM's
            // [abs dword ...] would be a sign-extended one without it.
            size_t p = t.find("[abs dword ");
            if (p != npos) {
                t.erase(p + 5, 6);
                address_prefix = true;
            } else if (in.raw.disp.size == 64 && (op.mem.segment == ZYDIS_REGISTER_FS || op.mem.segment == ZYDIS_REGISTER_GS)) {
                insert_after_bracket(t, "abs qword ");
            } else if (in.address_width == 32) {
                address_prefix = true;
            }
        }
    }
    if (!shown_memory && !counter_jump && (in.attributes & ZYDIS_ATTRIB_HAS_ADDRESSSIZE)
        && in.address_width != unsigned(bits))
        address_prefix = true;
    if (address_prefix)
        t.insert(0, width_prefix('a', in.address_width));
    return true;
}

// A byte loop: for names this short it beats a call to memcmp.
bool same(const std::string& a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < b.size(); ++i)
        if (a[i] != b[i])
            return false;
    return true;
}

// At most 15 bytes, in two overlapping fixed-width copies rather than a call.
void copy_short(uint8_t* to, const uint8_t* from, size_t n)
{
    if (n >= 8) {
        memcpy(to, from, 8);
        memcpy(to + n - 8, from + n - 8, 8);
    } else if (n >= 4) {
        memcpy(to, from, 4);
        memcpy(to + n - 4, from + n - 4, 4);
    } else {
        for (size_t i = 0; i < n; ++i)
            to[i] = from[i];
    }
}

void undecodable(const uint8_t* bytes, Insn* out)
{
    out->isa.clear();
    char db[16];
    snprintf(db, sizeof db, "db 0x%02X", bytes[0]);
    out->text = db;
    out->bytes[0] = bytes[0];
}

void fill_operands(Insn* out, const ZydisDecodedInstruction& in, const ZydisDecodedOperand* ops, const Context& c, int bits, uint64_t addr)
{
    out->ops.reserve(in.operand_count);
    for (int i = 0; i < in.operand_count; ++i) {
        const ZydisDecodedOperand& z = ops[i];
        Operand o;
        o.size = z.size / 8;
        o.read = z.actions & ZYDIS_OPERAND_ACTION_MASK_READ;
        o.write = z.actions & ZYDIS_OPERAND_ACTION_MASK_WRITE;
        o.visible = i < in.operand_count_visible;
        if (z.type == ZYDIS_OPERAND_TYPE_REGISTER) {
            ZydisRegister r = z.reg.value;
            if (r == ZYDIS_REGISTER_RFLAGS || r == ZYDIS_REGISTER_EFLAGS || r == ZYDIS_REGISTER_FLAGS)
                continue;
            o.kind = Operand::Reg;
            o.reg = reg_name(r);
            o.reg64 = widened(c, r, bits);
            if (r == ZYDIS_REGISTER_AH || r == ZYDIS_REGISTER_CH || r == ZYDIS_REGISTER_DH || r == ZYDIS_REGISTER_BH)
                o.shift = 8;
        } else if (z.type == ZYDIS_OPERAND_TYPE_MEMORY) {
            if (z.mem.type != ZYDIS_MEMOP_TYPE_MEM && z.mem.type != ZYDIS_MEMOP_TYPE_AGEN)
                continue;
            o.kind = Operand::Mem;
            if (z.mem.base != ZYDIS_REGISTER_NONE)
                o.base = widened(c, z.mem.base, bits);
            if (z.mem.index != ZYDIS_REGISTER_NONE)
                o.index = widened(c, z.mem.index, bits);
            if (z.mem.segment == ZYDIS_REGISTER_FS)
                o.seg = "fs";
            else if (z.mem.segment == ZYDIS_REGISTER_GS)
                o.seg = "gs";
            o.scale = z.mem.scale ? z.mem.scale : 1;
            o.disp = z.mem.disp.has_displacement ? z.mem.disp.value : 0;
            if (z.mem.base == ZYDIS_REGISTER_RIP || z.mem.base == ZYDIS_REGISTER_EIP) {
                ZyanU64 abs = 0;
                if (ZYAN_SUCCESS(ZydisCalcAbsoluteAddress(&in, &z, addr, &abs))) {
                    o.rip = true;
                    o.abs = abs;
                }
            }
        } else if (z.type == ZYDIS_OPERAND_TYPE_IMMEDIATE) {
            o.kind = Operand::Imm;
        } else {
            continue;
        }
        out->ops.push_back(std::move(o));
    }
}

} // namespace

namespace {

// Hidden operands are decoded only when their records are wanted; the text,
// the flow facts and the rewriting look at visible ones alone.
bool decode_fields(const Context& c, const uint8_t* bytes, size_t n, bool with_hidden, ZydisDecodedInstruction* in,
                   ZydisDecodedOperand* ops)
{
    ZydisDecoderContext dctx;
    return ZYAN_SUCCESS(ZydisDecoderDecodeInstruction(&c.decoder, &dctx, bytes, n, in))
        && ZYAN_SUCCESS(ZydisDecoderDecodeOperands(&c.decoder, &dctx, in, ops,
            with_hidden ? in->operand_count : in->operand_count_visible));
}

} // namespace

void decode(const uint8_t* bytes, size_t n, uint64_t addr, int bits, Insn* out, bool with_operands)
{
    // Reset field by field so a reused record keeps its string capacity.
    out->addr = addr;
    out->len = 1;
    memset(out->bytes, 0, sizeof out->bytes);
    out->valid = false;
    out->text.clear();
    out->is_call = out->is_jump = out->is_ret = false;
    out->has_target = false;
    out->target = 0;
    out->ops.clear();
    out->addr_bits = 64;
    out->has_mem = false;
    out->mem = 0;
    if (n == 0) {
        out->len = 0;
        out->isa.clear();
        return;
    }
    bits = normal_width(bits);
    const Contexts& all = contexts();
    const Context& c = all.for_width(bits);

    ZydisDecodedInstruction in;
    ZydisDecodedOperand ops[ZYDIS_MAX_OPERAND_COUNT];
    Line t;
    if (!decode_fields(c, bytes, n, with_operands, &in, ops)) {
        undecodable(bytes, out);
        return;
    }
    bool has_mem = false;
    uint64_t mem = 0;
    if (!format_simple(t, all, c, in, ops, bits, addr, &has_mem, &mem)
        && !format_general(t, c, in, ops, bits, addr, &has_mem, &mem)) {
        undecodable(bytes, out);
        return;
    }
    out->valid = true;
    out->len = in.length;
    out->addr_bits = in.address_width;
    out->has_mem = has_mem;
    out->mem = mem;
    std::string_view isa;
    if (in.meta.isa_set >= 0 && in.meta.isa_set <= ZYDIS_ISA_SET_MAX_VALUE)
        isa = all.isa[in.meta.isa_set];
    else if (const char* name = ZydisISASetGetString(in.meta.isa_set))
        isa = name;
    // A reused record often holds the same set already.
    if (!same(out->isa, isa))
        out->isa.assign(isa);

    const int visible = in.operand_count_visible;
    spell_for_nasm(t, in, ops, bits, bytes, addr, &has_mem, &mem);
    out->has_mem = has_mem;
    out->mem = mem;

    if (bits == 32 && (t == "pusha" || t == "popa"))
        t.insert(t.size(), "w");
    if (bits != 16 && t == "iret")
        t.assign("iretw");
    // NASM reads "notrack" as a label and drops the prefix; the prefix byte
    // is the ds segment override, which NASM writes as "ds".
    if (t.starts_with("notrack "))
        t.replace(0, 7, "ds");
    out->text.assign(t.data(), t.size());

    if (with_operands)
        fill_operands(out, in, ops, c, bits, addr);

    const ZydisInstructionCategory cat = in.meta.category;
    out->is_ret = cat == ZYDIS_CATEGORY_RET;
    out->is_call = cat == ZYDIS_CATEGORY_CALL;
    out->is_jump = cat == ZYDIS_CATEGORY_COND_BR || cat == ZYDIS_CATEGORY_UNCOND_BR;
    if ((out->is_call || out->is_jump) && visible >= 1) {
        ZyanU64 target = 0;
        if (ZYAN_SUCCESS(ZydisCalcAbsoluteAddress(&in, &ops[0], addr, &target)) && ops[0].type == ZYDIS_OPERAND_TYPE_IMMEDIATE) {
            out->has_target = true;
            out->target = target;
        }
    }
    copy_short(out->bytes, bytes, std::min<size_t>(out->len, n));
}

namespace detail {

bool both_formats(const uint8_t* bytes, size_t n, uint64_t addr, int bits, std::string* direct,
                  std::string* general)
{
    bits = normal_width(bits);
    const Contexts& all = contexts();
    const Context& c = all.for_width(bits);
    ZydisDecodedInstruction in;
    ZydisDecodedOperand ops[ZYDIS_MAX_OPERAND_COUNT];
    if (!decode_fields(c, bytes, n, false, &in, ops))
        return false;
    Line a, b;
    bool mem_a = false, mem_b = false;
    uint64_t at_a = 0, at_b = 0;
    if (!format_simple(a, all, c, in, ops, bits, addr, &mem_a, &at_a)
        || !format_general(b, c, in, ops, bits, addr, &mem_b, &at_b))
        return false;
    // The memory facts travel with the text, so they are compared too.
    direct->assign(a.data(), a.size());
    general->assign(b.data(), b.size());
    *direct += mem_a ? " @" + std::to_string(at_a) : "";
    *general += mem_b ? " @" + std::to_string(at_b) : "";
    return true;
}

} // namespace detail

std::vector<Insn> sweep(const uint8_t* bytes, size_t n, uint64_t addr, int bits, size_t max)
{
    std::vector<Insn> out;
    size_t off = 0;
    while (out.size() < max && off < n) {
        out.emplace_back();
        decode(bytes + off, n - off, addr + off, bits, &out.back(), false);
        off += out.back().len;
    }
    return out;
}

namespace {

std::string dollar_offset(uint64_t to, uint64_t from)
{
    int64_t d = static_cast<int64_t>(to - from);
    uint64_t mag = d < 0 ? 0 - static_cast<uint64_t>(d) : static_cast<uint64_t>(d);
    char buf[32];
    snprintf(buf, sizeof buf, "$%c0x%llX", d < 0 ? '-' : '+', static_cast<unsigned long long>(mag));
    return buf;
}

// The opcode byte of a jump, behind its legacy and REX prefixes.
size_t opcode_index(const Insn& insn)
{
    size_t i = 0;
    while (i + 1 < insn.len) {
        uint8_t b = insn.bytes[i];
        bool prefix = b == 0x66 || b == 0x67 || b == 0xF2 || b == 0xF3 || b == 0x2E || b == 0x3E
            || b == 0x26 || b == 0x36 || b == 0x64 || b == 0x65 || (b >= 0x40 && b <= 0x4F);
        if (!prefix)
            break;
        ++i;
    }
    return i;
}

} // namespace

std::string asm_text(const Insn& insn)
{
    std::string t = insn.text;
    if (insn.has_target && (insn.is_jump || insn.is_call)) {
        // A plain number as a branch target is outside every section for
        // NASM, so it would always pick the long form; relative to `$` it
        // stays in the section, and the encoded width is spelled out.
        size_t sp = t.rfind(' ');
        if (sp == std::string::npos || t.compare(sp + 1, 2, "0x") != 0)
            return t;
        std::string width;
        size_t mn = t.rfind(' ', sp - 1);
        mn = mn == std::string::npos ? 0 : mn + 1; // behind a "bnd" or "ds" prefix
        if (t[mn] == 'j' && t.find("cxz") == std::string::npos) {
            uint8_t op = insn.bytes[opcode_index(insn)];
            width = (op == 0xEB || (op >= 0x70 && op <= 0x7F)) ? "short " : "near ";
        }
        t.replace(sp + 1, std::string::npos, width + dollar_offset(insn.target, insn.addr));
        return t;
    }
    if (!insn.has_mem)
        return t;
    // NASM encodes [rel 0x2000] with a plain number as an absolute address.
    size_t p = t.find("[rel ");
    if (p == std::string::npos)
        return t;
    p += 5;
    if (p + 3 <= t.size() && t[p + 2] == ':')
        p += 3; // segment override
    if (t.compare(p, 2, "0x") != 0)
        return t;
    size_t end = t.find_first_not_of("0123456789abcdefABCDEF", p + 2);
    if (end == std::string::npos || end == p + 2)
        return t;
    t.replace(p, end - p, dollar_offset(insn.mem, insn.addr));
    return t;
}

size_t hex_bytes(const Insn& insn, size_t max, char* out)
{
    static const char digits[] = "0123456789ABCDEF";
    size_t len = std::min<size_t>(insn.len, sizeof insn.bytes);
    size_t shown = std::min(len, max);
    char* p = out;
    for (size_t i = 0; i < shown; ++i) {
        *p++ = digits[insn.bytes[i] >> 4];
        *p++ = digits[insn.bytes[i] & 15];
    }
    if (len > max) {
        memcpy(p, "\xE2\x80\xA6", 3); // …
        p += 3;
    }
    return size_t(p - out);
}

std::string hex_bytes(const Insn& insn, size_t max)
{
    char buf[2 * sizeof insn.bytes + 3];
    return std::string(buf, hex_bytes(insn, max, buf));
}

} // namespace dis
