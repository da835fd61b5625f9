#include "disasm.h"

#include <Zydis/Zydis.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace dis {

namespace {

struct Context {
    ZydisDecoder decoder;
    ZydisFormatter formatter;
    ZydisMachineMode mode;
};

struct Contexts {
    Context c16, c32, c64;

    Contexts()
    {
        init(c16, ZYDIS_MACHINE_MODE_REAL_16, ZYDIS_STACK_WIDTH_16);
        init(c32, ZYDIS_MACHINE_MODE_LEGACY_32, ZYDIS_STACK_WIDTH_32);
        init(c64, ZYDIS_MACHINE_MODE_LONG_64, ZYDIS_STACK_WIDTH_64);
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
const Contexts& contexts()
{
    static const Contexts all;
    return all;
}

const Context& context_for(int bits)
{
    const Contexts& all = contexts();
    return bits == 16 ? all.c16 : bits == 32 ? all.c32 : all.c64;
}

void replace_all(std::string& s, std::string_view from, std::string_view to)
{
    size_t pos = s.find(from);
    while (pos != std::string::npos) {
        s.replace(pos, from.size(), to);
        pos = s.find(from, pos + to.size());
    }
}

bool starts_with(const std::string& s, std::string_view p)
{
    return s.size() >= p.size() && s.compare(0, p.size(), p) == 0;
}

void insert_after_bracket(std::string& t, std::string_view what)
{
    size_t b = t.find('[');
    if (b != std::string::npos)
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

void add_size_word(std::string& t, const ZydisDecodedInstruction& in, const ZydisDecodedOperand* ops, int idx, const Context& c)
{
    const ZydisDecodedOperand& mem = ops[idx];
    for (int j = 0; j < in.operand_count_visible; ++j) {
        if (j != idx && ops[j].type == ZYDIS_OPERAND_TYPE_REGISTER
            && ZydisRegisterGetWidth(c.mode, ops[j].reg.value) == mem.size)
            return;
    }
    const char* word = size_word(mem.size, !t.empty() && t[0] == 'f');
    size_t b = t.find('[');
    if (!word || b == std::string::npos || t.find(" far ") != std::string::npos)
        return;
    std::string_view before(t.data(), b);
    if (before.ends_with("word ") || before.ends_with("byte "))
        return;
    t.insert(b, word);
}

// Far pointer operands: NASM refuses "far" with an immediate segment:offset
// and needs the operand size spelled out when it differs from the code width.
void fix_far_pointer(std::string& t, const ZydisDecodedOperand& op, int bits)
{
    size_t far = t.find(" far ");
    if (far != std::string::npos)
        t.erase(far, 4);
    int offset_bits = op.size > 32 ? 32 : 16; // ptr16:16 is 32 bits, ptr16:32 is 48
    if (offset_bits != (bits == 64 ? 32 : bits)) {
        size_t sp = t.find(' ');
        if (sp != std::string::npos)
            t.insert(sp + 1, offset_bits == 32 ? "dword " : "word ");
    }
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
    out->isa.clear();
    out->addr_bits = 64;
    out->has_mem = false;
    out->mem = 0;
    if (n == 0) {
        out->len = 0;
        return;
    }
    if (bits != 16 && bits != 32)
        bits = 64;
    const Context& c = context_for(bits);

    ZydisDecodedInstruction in;
    ZydisDecodedOperand ops[ZYDIS_MAX_OPERAND_COUNT];
    char buf[256];
    // Hidden operands are decoded only when their records are wanted; the
    // text, the flow facts and the rewriting look at visible ones alone.
    ZydisDecoderContext dctx;
    bool ok = ZYAN_SUCCESS(ZydisDecoderDecodeInstruction(&c.decoder, &dctx, bytes, n, &in))
        && ZYAN_SUCCESS(ZydisDecoderDecodeOperands(&c.decoder, &dctx, &in, ops,
            with_operands ? in.operand_count : in.operand_count_visible));
    if (!ok
        || !ZYAN_SUCCESS(ZydisFormatterFormatInstruction(&c.formatter, &in, ops, in.operand_count_visible, buf, sizeof buf, addr, nullptr))) {
        char db[16];
        snprintf(db, sizeof db, "db 0x%02X", bytes[0]);
        out->text = db;
        out->bytes[0] = bytes[0];
        return;
    }
    out->valid = true;
    out->len = in.length;
    out->addr_bits = in.address_width;
    if (const char* isa = ZydisISASetGetString(in.meta.isa_set))
        out->isa = isa;
    std::string& t = out->text;
    t = buf;

    if (t.find(" ptr ") != std::string::npos)
        replace_all(t, " ptr ", " ");
    if (t.find(":[") != std::string::npos) {
        for (const char* seg : { "es", "cs", "ss", "ds", "fs", "gs" }) {
            const char from[5] = { seg[0], seg[1], ':', '[', 0 };
            const char to[5] = { '[', seg[0], seg[1], ':', 0 };
            replace_all(t, from, to);
        }
    }
    if (t.find("word [") != std::string::npos || t.find("tbyte [") != std::string::npos) {
        replace_all(t, "xmmword [", "oword [");
        replace_all(t, "ymmword [", "yword [");
        replace_all(t, "zmmword [", "zword [");
        replace_all(t, "tbyte [", "tword [");
        replace_all(t, "fword [", "[");
    }
    if (t == "fdisi8087_nop")
        t = "fndisi";
    else if (t == "feni8087_nop")
        t = "fneni";
    else if (t == "fsetpm287_nop")
        t = "fsetpm";
    else if (starts_with(t, "ret far"))
        t.replace(0, 7, "retf");

    const int visible = in.operand_count_visible;
    for (int i = 0; i < visible; ++i) {
        const ZydisDecodedOperand& op = ops[i];
        if (op.type == ZYDIS_OPERAND_TYPE_MEMORY && op.mem.base == ZYDIS_REGISTER_RIP) {
            ZyanU64 abs = 0;
            if (ZYAN_SUCCESS(ZydisCalcAbsoluteAddress(&in, &op, addr, &abs))) {
                out->has_mem = true;
                out->mem = abs;
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
                if (p != std::string::npos)
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
            for (size_t p = t.find(pat); p != std::string::npos; p = t.find(pat, p + 1)) {
                size_t after = p + pat.size();
                if (after < t.size() && (t[after] == ']' || t[after] == '+' || t[after] == '-')) {
                    t.erase(after - 2, 2);
                    break;
                }
            }
        } else if (base == ZYDIS_REGISTER_NONE && index == ZYDIS_REGISTER_NONE) {
            if (bits == 64) {
                if (op.mem.segment != ZYDIS_REGISTER_FS && op.mem.segment != ZYDIS_REGISTER_GS) {
                    std::string word = "abs ";
                    if (in.raw.disp.size == 64)
                        word += "qword ";
                    else if (in.address_width == 32)
                        word += "dword ";
                    insert_after_bracket(t, word);
                }
            } else if (in.address_width != bits) {
                insert_after_bracket(t, in.address_width == 32 ? "dword " : "word ");
            }
        }
    }

    if (in.mnemonic == ZYDIS_MNEMONIC_NOP && visible == 2 && ops[0].type == ZYDIS_OPERAND_TYPE_MEMORY
        && ops[1].type == ZYDIS_OPERAND_TYPE_REGISTER) {
        size_t b = t.find('['), comma = t.rfind(", ");
        if (b != std::string::npos && comma != std::string::npos && b < comma) {
            const char* word = ops[0].size == 16 ? "word " : ops[0].size == 64 ? "qword " : "dword ";
            t = t.substr(0, b) + word + t.substr(b, comma - b);
        }
    }

    if (bits == 32 && (t == "pusha" || t == "popa" || t == "pushf" || t == "popf"))
        t += 'w';
    if (bits != 16 && t == "iret")
        t = "iretw";
    // NASM reads "notrack" as a label and drops the prefix; the prefix byte
    // is the ds segment override, which NASM writes as "ds".
    if (starts_with(t, "notrack "))
        t.replace(0, 7, "ds");

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
    memcpy(out->bytes, bytes, std::min<size_t>(out->len, n));
}

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

std::string hex_bytes(const Insn& insn, size_t max)
{
    static const char digits[] = "0123456789ABCDEF";
    size_t len = std::min<size_t>(insn.len, sizeof insn.bytes);
    size_t shown = std::min(len, max);
    std::string s;
    s.reserve(shown * 2 + 3);
    for (size_t i = 0; i < shown; ++i) {
        s += digits[insn.bytes[i] >> 4];
        s += digits[insn.bytes[i] & 15];
    }
    if (len > max)
        s += "\xE2\x80\xA6"; // …
    return s;
}

} // namespace dis
