// Detail pages of the reference as typed blocks, the little markup of the
// tutorial topics, and the example code each entry offers.
#include "ref_impl.h"

#include "l10n.h"
#include "numfmt.h"

#include <cstdint>

using L10n::tr;

namespace ref {

using namespace impl;

namespace {

using Type = Block::Type;

Block block(Type t, std::string text)
{
    Block b;
    b.type = t;
    b.text = std::move(text);
    return b;
}

void text_lines(std::vector<Block>* out, const std::string& text)
{
    for (const std::string& line : split(text, '\n'))
        if (!line.empty())
            out->push_back(block(Type::Text, line));
}

// "# " starts a heading, four blanks a code line, an empty line ends a
// paragraph; other lines are joined into paragraphs.
void topic_markup(std::vector<Block>* out, const std::string& body)
{
    std::string para, code;
    int pending = 0;
    auto flush_para = [&] {
        if (!para.empty())
            out->push_back(block(Type::Text, para));
        para.clear();
    };
    auto flush_code = [&] {
        if (!code.empty())
            out->push_back(block(Type::Code, code));
        code.clear();
        pending = 0;
    };
    for (std::string line : split(body, '\n')) {
        while (!line.empty() && (line.back() == ' ' || line.back() == '\r'))
            line.pop_back();
        if (line.rfind("    ", 0) == 0) {
            flush_para();
            if (!code.empty())
                code.append(size_t(pending) + 1, '\n');
            code += line.substr(4);
            pending = 0;
        } else if (!line.empty()) {
            flush_code();
            if (line.rfind("# ", 0) == 0) {
                flush_para();
                out->push_back(block(Type::Heading, line.substr(2)));
            } else {
                para += (para.empty() ? "" : " ") + line;
            }
        } else if (!code.empty()) {
            ++pending;
        } else {
            flush_para();
        }
    }
    flush_para();
    flush_code();
}

// A row's flags: those it sets, then after "|" those it leaves undefined,
// then after another "|" the word of1 when OF is defined only for a count of 1.
std::string flags_text(const std::string& field)
{
    std::vector<std::string> parts;
    for (size_t from = 0;;) {
        size_t bar = field.find('|', from);
        std::string part = field.substr(from, bar == std::string::npos ? std::string::npos : bar - from);
        size_t a = part.find_first_not_of(' '), b = part.find_last_not_of(' ');
        parts.push_back(a == std::string::npos ? std::string() : part.substr(a, b - a + 1));
        if (bar == std::string::npos)
            break;
        from = bar + 1;
    }
    std::string text = parts[0];
    if (parts.size() > 1 && !parts[1].empty())
        text += (text.empty() ? "" : "; ") + tr("ref.flags_undef", parts[1]);
    if (parts.size() > 2 && parts[2] == "of1")
        text += "; " + tr("ref.flags_of1");
    return text.empty() ? tr("ref.flags_none") : text;
}

void insn_page(std::vector<Block>* out, const refdata::Insn& row, bool is32)
{
    text_lines(out, insn_desc(row));
    if (!*row.forms64 && !*row.forms32) {
        out->push_back(block(Type::Small, tr("ref.prefix")));
    } else {
        out->push_back(block(Type::Heading, tr(is32 ? "ref.forms32" : "ref.forms64")));
        const char* forms = is32 ? row.forms32 : row.forms64;
        if (*forms) {
            out->push_back(block(Type::Forms, forms));
            out->push_back(block(Type::Small, tr("ref.legend")));
        } else {
            out->push_back(block(Type::Text, tr(is32 ? "ref.no_forms32" : "ref.no_forms64")));
        }
    }
    Block flags = block(Type::Pairs, {});
    flags.pairs.push_back({ tr("ref.flags"), flags_text(row.flags) });
    out->push_back(flags);
    if (*row.example) {
        out->push_back(block(Type::Heading, tr("ref.example")));
        out->push_back(block(Type::Code, row.example));
    }
}

void syscall_section(std::vector<Block>* out, const refdata::Syscall& row, bool is64)
{
    out->push_back(block(Type::Heading, tr(is64 ? "ref.sys.call64" : "ref.sys.call32")));
    SyscallInfo info;
    fill(row, is64, &info);
    if (info.nr < 0) {
        out->push_back(block(Type::Text, tr(is64 ? "ref.sys.not64" : "ref.sys.not32")));
        return;
    }
    Block t = block(Type::Pairs, {});
    t.pairs.push_back({ is64 ? "rax" : "eax",
                        std::to_string(info.nr) + "   (" + numfmt::hex(uint64_t(info.nr), 0) + ")" });
    if (!info.args_known)
        t.pairs.push_back({ "\xe2\x80\xa6", tr("ref.sys.args_unknown") });
    const char* const* regs = syscall_regs(is64);
    for (size_t i = 0; i < info.args.size() && i < 6; ++i)
        t.pairs.push_back({ regs[i], info.args[i].type + " " + info.args[i].name });
    t.pairs.push_back({ tr("ref.sys.result"), tr(is64 ? "ref.sys.ret64" : "ref.sys.ret32") });
    out->push_back(t);
}

void errno_page(std::vector<Block>* out, const refdata::Errno& row)
{
    out->push_back(block(Type::Text, errno_text(row.nr)));
    Block t = block(Type::Pairs, {});
    t.pairs.push_back({ tr("ref.err.number"), std::to_string(row.nr) });
    t.pairs.push_back({ tr("ref.err.rax"), "-" + std::to_string(row.nr) + "   ("
                                               + numfmt::hex(uint64_t(-int64_t(row.nr)), 8) + ")" });
    std::string same;
    for (const refdata::Errno& other : refdata::kErrnos)
        if (*other.alias && std::string(other.alias) == row.name)
            same += (same.empty() ? "" : ", ") + std::string(other.name);
    if (!same.empty())
        t.pairs.push_back({ tr("ref.err.same"), same });
    out->push_back(t);
    out->push_back(block(Type::Small, tr("ref.err.explain")));
}

// One line of a generated example: the code, and the comment from column 28.
void example_line(std::string* out, const std::string& code, const std::string& comment)
{
    std::string line = "    " + code;
    if (!comment.empty()) {
        line += line.size() < 28 ? std::string(28 - line.size(), ' ') : std::string(2, ' ');
        line += "; " + comment;
    }
    *out += line + "\n";
}

} // namespace

std::vector<Block> detail(const Entry& e, int bits)
{
    std::vector<Block> out;
    if (!e.valid())
        return out;
    const bool is32 = bits == 32;
    switch (e.kind) {
    case Kind::Topic: {
        if (e.index >= kTopicCount)
            break;
        const Topic& t = kTopics[e.index];
        std::string body = tr(t.body);
        if (std::string(t.body).rfind("ref.", 0) == 0) {
            topic_markup(&out, body);
        } else {
            std::vector<std::string> lines = split(body, '\n');
            if (!lines.empty())
                out.push_back(block(Type::Text, lines[0]));
            std::string rest;
            for (size_t i = 1; i < lines.size(); ++i)
                rest += (i > 1 ? "\n" : "") + lines[i];
            if (!rest.empty())
                out.push_back(block(Type::Code, rest));
        }
        break;
    }
    case Kind::Insn:
        if (size_t(e.index) < refdata::kInsnCount)
            insn_page(&out, refdata::kInsns[e.index], is32);
        break;
    case Kind::Directive:
        if (size_t(e.index) < refdata::kDirectiveCount) {
            const refdata::Directive& row = refdata::kDirectives[e.index];
            text_lines(&out, tr(std::string("ref.d.") + row.id));
            out.push_back(block(Type::Heading, tr("ref.example")));
            out.push_back(block(Type::Code, row.example));
        }
        break;
    case Kind::Syscall:
        if (size_t(e.index) < refdata::kSyscallCount) {
            const refdata::Syscall& row = refdata::kSyscalls[e.index];
            text_lines(&out, sys_desc(row));
            syscall_section(&out, row, !is32);
            syscall_section(&out, row, is32);
            std::string code = example(e, bits);
            if (!code.empty()) {
                out.push_back(block(Type::Heading, tr("ref.example")));
                code.pop_back();
                out.push_back(block(Type::Code, code));
            }
        }
        break;
    case Kind::Errno:
        if (size_t(e.index) < refdata::kErrnoCount)
            errno_page(&out, refdata::kErrnos[e.index]);
        break;
    }
    return out;
}

bool mono_safe(const std::string& text)
{
    for (size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (len == 0) { // a continuation byte without its lead byte
            ++i;
            continue;
        }
        uint32_t cp = len == 1 ? c : c & (0x7F >> len);
        for (size_t k = 1; k < len && i + k < text.size(); ++k)
            cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        if (cp > 0x58F && (cp < 0x2000 || cp > 0x2BFF))
            return false;
        i += len;
    }
    return true;
}

std::string example(const Entry& e, int bits)
{
    if (!e.valid())
        return {};
    switch (e.kind) {
    case Kind::Insn:
        return size_t(e.index) < refdata::kInsnCount ? refdata::kInsns[e.index].example : "";
    case Kind::Directive:
        return size_t(e.index) < refdata::kDirectiveCount ? refdata::kDirectives[e.index].example : "";
    case Kind::Syscall: {
        if (size_t(e.index) >= refdata::kSyscallCount)
            return {};
        const bool is64 = bits != 32;
        SyscallInfo info;
        fill(refdata::kSyscalls[e.index], is64, &info);
        if (info.nr < 0)
            return {};
        std::string out;
        example_line(&out, (is64 ? "mov rax, " : "mov eax, ") + std::to_string(info.nr), info.name);
        const char* const* regs = syscall_regs(is64);
        for (size_t i = 0; i < info.args.size() && i < 6; ++i) {
            const Arg& a = info.args[i];
            std::string reg = regs[i];
            std::string code = a.type.find('*') == std::string::npos ? "mov " + reg + ", 0"
                : is64 ? "lea " + reg + ", [rel " + a.name + "]"
                       : "lea " + reg + ", [" + a.name + "]";
            example_line(&out, code, a.type + " " + a.name);
        }
        example_line(&out, is64 ? "syscall" : "int 0x80", "");
        return out;
    }
    case Kind::Topic:
    case Kind::Errno: break;
    }
    return {};
}

} // namespace ref
