// The binary view against real images built here (ELF64, ELF32, PE32, MZ,
// .COM, raw), a real program stopped under the debugger, and an image
// surface: rows, navigation, search, editing with undo and redo checked
// against the saved file, painting with its hit records, keys and mouse.
#include "binview.h"
#include "debugger_linux.h"
#include "gfx.h"
#include "palette.h"
#include "testutil.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>

using namespace testutil;

namespace {

using Key = BinView::Key;

const char* kElf64 = R"(bits 64
section .text
global _start
_start:
    mov eax, 1
    mov edi, 1
    lea rsi, [rel msg]
    mov edx, 5
    syscall
    call helper
    xor edi, edi
    mov eax, 60
    syscall
helper:
    nop
    ret
section .data
msg: db 'abc', 10, 0
blob: times 20 db 0x11
s3: db 1, 2, 3
s4: db 4, 5, 6
)";

const char* kElf32 = R"(bits 32
section .text
global _start
_start:
    mov eax, 4
    mov ebx, 1
    mov ecx, text
    int 0x80
    ret
section .data
text: db 'hello', 0
)";

// A PE32 or PE32+ image with a code and a data section, written out field
// by field; the two differ in the optional header and the code.
std::string pe_source(bool plus)
{
    std::string opt = plus ? "    dd 0x1000, 0x1000\n    dq 0x140000000\n    dd 0x1000, 0x200\n"
                             "    dw 6, 0, 0, 0, 6, 0\n    dd 0, 0x3000, 0x200, 0\n    dw 3, 0\n"
                             "    dq 0x100000, 0x1000, 0x100000, 0x1000\n"
                           : "    dd 0x1000, 0x1000, 0x2000, 0x400000, 0x1000, 0x200\n"
                             "    dw 4, 0, 0, 0, 4, 0\n    dd 0, 0x3000, 0x200, 0\n    dw 3, 0\n"
                             "    dd 0x100000, 0x1000, 0x100000, 0x1000\n";
    std::string code = plus ? "    sub rsp, 40\n    xor ecx, ecx\n    add rsp, 40\n    ret\n"
                            : "    push ebp\n    mov ebp, esp\n    mov eax, [0x402000]\n    pop ebp\n    ret\n";
    return std::string(plus ? "bits 64\n" : "bits 32\n") + "    db 'MZ'\n    times 0x3c-($-$$) db 0\n    dd pe\n"
        + "    times 0x80-($-$$) db 0\npe: db 'PE', 0, 0\n    dw " + (plus ? "0x8664" : "0x14c")
        + ", 2\n    dd 0, 0, 0\n    dw opt_end - opt, 0x0102\nopt: dw " + (plus ? "0x20b" : "0x10b")
        + "\n    db 0, 0\n    dd 0x200, 0x200, 0\n" + opt + "    dd 0, 16\n    times 32 dd 0\nopt_end:\n"
        + "    db '.text', 0, 0, 0\n    dd 0x200, 0x1000, 0x200, 0x200, 0, 0\n    dw 0, 0\n    dd 0x60000020\n"
        + "    db '.data', 0, 0, 0\n    dd 0x200, 0x2000, 0x200, 0x400, 0, 0\n    dw 0, 0\n    dd 0xC0000040\n"
        + "    times 0x200-($-$$) db 0\n" + code + "    times 0x400-($-$$) db 0x90\n    db 'PE data', 0\n"
        + "    times 0x600-($-$$) db 0\n";
}

// A DOS MZ program: a 64-byte header, then code from CS:IP = 0:0.
const char* kMz = R"(bits 16
    db 'MZ'
    dw 0, 1, 0, 4, 0, 0xffff, 0, 0x100, 0, 0, 0, 0x3e, 0
    times 64-($-$$) db 0
    mov ax, 0x4c00
    int 0x21
)";

const char* kCom = R"(bits 16
org 0x100
    mov dx, msg
    mov ah, 9
    int 0x21
    ret
msg: db 'Hi$'
)";

std::string build(const TempDir& dir, const std::string& name, const std::string& src, const std::string& fmt)
{
    std::string out = dir.file(name);
    std::string err = nasm_build(src, out, fmt);
    EXPECT_EQ(err, "") << name;
    return out;
}

// A view over its own image with every callback recorded.
struct View {
    BinImage img;
    BinView v;
    std::vector<std::pair<std::string, bool>> status;
    std::vector<uint64_t> toggled;
    std::vector<int> asked;
    int edits = 0;

    explicit View(const std::string& path = {})
    {
        v.m_img = &img;
        v.on_status = [this](std::function<std::string()> t, bool e) { status.push_back({ t(), e }); };
        v.on_toggle_bp = [this](uint64_t a) { toggled.push_back(a); };
        v.on_edited = [this] { ++edits; };
        v.ask_overwrite = [this](int n, const std::string&) { asked.push_back(n); };
        if (!path.empty()) {
            std::string err;
            EXPECT_TRUE(img.load(path, &err)) << err;
            v.image_changed();
        }
    }
    void bytes(std::vector<uint8_t> b, const std::string& name)
    {
        img.load_bytes(std::move(b), name);
        v.image_changed();
    }
    // Every row from the first on.
    std::vector<Key> rows()
    {
        std::vector<Key> out;
        for (Key k = v.first_row(); k.valid(); k = v.next_row(k))
            out.push_back(k);
        return out;
    }
    std::string text(const Key& k)
    {
        const BinView::Row* r = v.row(k);
        return r ? (r->header ? "#" + r->label : r->insn.len ? r->insn.text : r->label + ":") : "?";
    }
    uint64_t sym(const std::string& name)
    {
        uint64_t a = 0;
        EXPECT_TRUE(img.find_symbol(name, &a)) << name;
        return a;
    }
};

SDL_Keysym keysym(SDL_Keycode k, uint16_t mod = 0)
{
    SDL_Keysym s {};
    s.sym = k;
    s.mod = mod;
    return s;
}

struct Canvas {
    cairo_surface_t* s;
    cairo_t* cr;
    Canvas(int w, int h)
        : s(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h))
        , cr(cairo_create(s))
    {
    }
    ~Canvas()
    {
        cairo_destroy(cr);
        cairo_surface_destroy(s);
    }
    // Written when QX_BINVIEW_PNG names a directory, to look at.
    void save(const std::string& name)
    {
        const char* dir = getenv("QX_BINVIEW_PNG");
        if (!dir)
            return;
        std::string why;
        EXPECT_TRUE(gfx::write_png(s, std::string(dir) + "/" + name, &why)) << why;
    }
};

// ---- rows ----------------------------------------------------------------

TEST(Rows, EveryFormatListsItsPartsAndSelectsTheEntry)
{
    TempDir dir;
    struct Case {
        std::string name, fmt;
        std::string src;
        BinImage::Kind kind;
        bool data_part;
        std::string entry_text;
    };
    std::vector<Case> cases = {
        { "e64", "elf64", kElf64, BinImage::Elf64, true, "mov eax, 0x1" },
        { "e32", "elf32", kElf32, BinImage::Elf32, true, "mov eax, 0x4" },
        { "p.exe", "bin", pe_source(false), BinImage::Pe32, true, "push ebp" },
        { "p64.exe", "bin", pe_source(true), BinImage::Pe64, true, "sub rsp, 0x28" },
        { "m.exe", "bin", kMz, BinImage::Mz, false, "mov ax, 0x4C00" },
        { "c.com", "bin", kCom, BinImage::Com, false, "mov dx, 0x108" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        View w(build(dir, c.name, c.src, c.fmt));
        ASSERT_EQ(w.img.m_kind, c.kind);
        std::vector<Key> rows = w.rows();
        ASSERT_FALSE(rows.empty());
        EXPECT_EQ(rows[0].kind, Key::Header);
        bool has_data = false;
        for (const Key& k : rows) {
            const BinView::Row* r = w.v.row(k);
            ASSERT_NE(r, nullptr);
            has_data = has_data || r->data;
        }
        EXPECT_EQ(has_data, c.data_part);
        const dis::Insn* in = w.v.selected_insn();
        ASSERT_NE(in, nullptr);
        EXPECT_EQ(in->addr, w.img.m_entry);
        EXPECT_EQ(in->text, c.entry_text);
        // The binary bar: base only for raw, bit chips for raw, .COM and MZ.
        EXPECT_TRUE(w.v.bar_shown());
        EXPECT_FALSE(w.v.bar_base());
        EXPECT_EQ(w.v.bar_bits(), c.kind == BinImage::Com || c.kind == BinImage::Mz);
        EXPECT_EQ(w.v.info_text().rfind(std::string(w.img.kind_name()) + " · entry ", 0), 0u) << w.v.info_text();
    }
}

TEST(Rows, RawImagesListOnlyCodeAndEmptyImagesNothing)
{
    View w;
    w.bytes({ 0x90, 0x90, 0xC3 }, "/x/blob.bin");
    std::vector<Key> rows = w.rows();
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(w.text(rows[3]), "ret");
    EXPECT_TRUE(w.v.bar_base() && w.v.bar_bits());
    EXPECT_EQ(w.v.info_text(), "RAW · entry 0 · 3 B");
    View e;
    e.bytes({}, "/x/empty.bin");
    EXPECT_FALSE(e.v.bar_shown());
    EXPECT_FALSE(e.v.first_row().valid());
    EXPECT_EQ(e.v.selected_insn(), nullptr);
}

TEST(Rows, DataLinesQuoteTextAndBreakAtLabelsAnd15Bytes)
{
    TempDir dir;
    View w(build(dir, "e64", kElf64, "elf64"));
    std::vector<std::string> texts;
    for (const Key& k : w.rows())
        texts.push_back(w.text(k));
    auto at = std::find(texts.begin(), texts.end(), "msg:");
    ASSERT_NE(at, texts.end());
    std::vector<std::string> want = { "msg:", "db 'abc', 0x0A, 0x00", "blob:",
        "db 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11",
        "db 0x11, 0x11, 0x11, 0x11, 0x11", "s3:", "db 0x01, 0x02, 0x03", "s4:", "db 0x04, 0x05, 0x06" };
    ASSERT_GE(size_t(texts.end() - at), want.size());
    EXPECT_EQ(std::vector<std::string>(at, at + ptrdiff_t(want.size())), want);
}

// The list is decoded in blocks; walking it must give exactly a linear
// sweep of each code range, forwards and backwards.
TEST(Rows, BlocksAgreeWithOneSweepOverARealProgram)
{
    View w("/usr/bin/ls");
    ASSERT_FALSE(w.img.code_ranges().empty());
    BinImage::CodeRange text = w.img.code_ranges()[0];
    for (const BinImage::CodeRange& c : w.img.code_ranges()) {
        if (c.size > text.size)
            text = c;
    }
    ASSERT_GT(text.size, 40000u);
    std::vector<uint64_t> sweep;
    dis::Insn in;
    for (uint64_t off = 0; off < text.size; off += in.len) {
        dis::decode(w.img.m_data.data() + text.off + off, size_t(text.size - off), text.addr + off, 64, &in);
        sweep.push_back(text.addr + off);
    }
    Key k = w.v.row_of_addr(text.addr);
    ASSERT_TRUE(k.valid());
    std::vector<uint64_t> forward;
    for (; k.valid() && w.v.row_addr(k) < text.addr + text.size; k = w.v.next_row(k)) {
        if (k.kind == Key::Insn)
            forward.push_back(w.v.row_addr(k));
        if (k.kind == Key::Header && !forward.empty())
            break;
    }
    EXPECT_EQ(forward, sweep);
    std::vector<uint64_t> backward;
    for (Key b = w.v.row_of_addr(sweep.back()); b.valid() && b.kind != Key::Header; b = w.v.prev_row(b)) {
        if (b.kind == Key::Insn)
            backward.push_back(w.v.row_addr(b));
    }
    std::reverse(backward.begin(), backward.end());
    EXPECT_EQ(backward, sweep);
}

TEST(Rows, AddressTexts)
{
    TempDir dir;
    View com(build(dir, "c.com", kCom, "bin"));
    EXPECT_EQ(com.v.addr_text(0x1234), "1234");
    View e(build(dir, "e64", kElf64, "elf64"));
    EXPECT_EQ(e.v.addr_text(0x1234), "00001234");
    EXPECT_EQ(e.v.addr_text(0x100000000ULL), "000100000000");
    BinView none;
    EXPECT_EQ(none.addr_text(0x12), "00000012");
}

// ---- navigation ----------------------------------------------------------------

TEST(Navigation, RowsByAddressFollowBackAndOffsets)
{
    TempDir dir;
    View w(build(dir, "e64", kElf64, "elf64"));
    uint64_t start = w.sym("_start");
    // Inside the 5-byte mov, and the label row sharing the address.
    Key k = w.v.row_of_addr(start + 3);
    ASSERT_TRUE(k.valid());
    EXPECT_EQ(w.v.row_addr(k), start);
    EXPECT_EQ(k.kind, Key::Insn);
    EXPECT_FALSE(w.v.row_of_addr(0x1000).valid());

    // The call: Right follows, Backspace returns.
    uint64_t call = start + 24;
    w.v.select_row(w.v.row_of_addr(call), true);
    ASSERT_NE(w.v.selected_insn(), nullptr);
    EXPECT_EQ(w.v.selected_insn()->text.substr(0, 4), "call");
    EXPECT_TRUE(w.v.key(keysym(SDLK_RIGHT)));
    EXPECT_EQ(w.v.selected_addr(), w.sym("helper"));
    EXPECT_TRUE(w.v.key(keysym(SDLK_BACKSPACE)));
    EXPECT_EQ(w.v.selected_addr(), call);
    // A ret has nothing to follow: the key is not used.
    w.v.select_row(w.v.row_of_addr(w.sym("helper") + 1), true);
    EXPECT_FALSE(w.v.key(keysym(SDLK_RIGHT)));

    // The back stack keeps 200 entries.
    w.v.m_back.clear();
    for (int i = 0; i < 201; ++i)
        w.v.goto_addr(start);
    EXPECT_EQ(w.v.m_back.size(), 200u);
    w.v.m_back.clear();
    EXPECT_FALSE(w.v.back());

    // An address without a row and without a file byte.
    w.v.goto_addr(0x10);
    ASSERT_FALSE(w.status.empty());
    EXPECT_EQ(last_of(w.status), std::make_pair(std::string("No file byte at this address."), true));
    EXPECT_TRUE(w.v.m_hex_focus);

    // A file offset inside the code selects its row; past the end fails.
    uint64_t off = 0;
    ASSERT_TRUE(w.img.addr_to_off(start + 5, &off));
    EXPECT_TRUE(w.v.goto_offset(off));
    EXPECT_EQ(w.v.m_cur, off);
    EXPECT_EQ(w.v.selected_addr(), start + 5);
    EXPECT_FALSE(w.v.goto_offset(w.img.m_data.size()));
}

TEST(Navigation, ScrollingKeepsTheSelectionInSightInABigImage)
{
    View w;
    std::vector<uint8_t> b(4 << 20, 0x90);
    w.bytes(b, "/x/nops.bin");
    w.v.m_h = 18 * 21 + 20;
    w.v.m_head = 20;
    w.v.m_lh = 18;
    w.v.select_row(w.v.last_row(), true);
    EXPECT_EQ(w.v.selected_addr(), (4u << 20) - 1);
    // m_top is visible rows - v/4 - 1 above the selection.
    Key k = w.v.m_top;
    int n = 0;
    while (k.valid() && k != w.v.m_sel) {
        k = w.v.next_row(k);
        ++n;
    }
    EXPECT_EQ(n, 20 - 20 / 4 - 1);
    EXPECT_LT(w.v.m_blocks_decoded, 10u);
}

// ---- search ----------------------------------------------------------------

TEST(Search, BytesTextUtf16HexAndRowTexts)
{
    View w;
    std::vector<uint8_t> b(600, 0x90);
    memcpy(b.data() + 100, "MZ", 2);
    memcpy(b.data() + 200, "\x7f" "ELF", 4);
    memcpy(b.data() + 300, "w\0i\0d\0e\0", 8);
    memcpy(b.data() + 400, "\x7f" "ELF", 4);
    b[500] = 0x0F;
    b[501] = 0x05; // syscall
    b[598] = 0xAB; // a match that ends on the last byte
    b[599] = 0xCD;
    w.bytes(b, "/x/s.bin");
    struct Case {
        std::string q;
        bool next;
        bool found;
        uint64_t at;
        size_t len;
        bool ascii;
    };
    std::vector<Case> cases = {
        { "4D 5A", false, true, 100, 2, false },
        { "0x4d,0x5a", false, true, 100, 2, false },
        { "7f45", false, true, 200, 2, false },
        { "elf", false, true, 201, 3, true },
        { "WIDE", false, true, 300, 8, true },
        { "7f45", true, true, 400, 2, false },
        { "7f45", true, true, 200, 2, false }, // wraps to the first
        { "ABCD", false, true, 598, 2, false },
        { "4D5", false, false, 0, 0, false },
    };
    w.v.m_cur = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.q);
        EXPECT_EQ(w.v.find(c.q, true, c.next), c.found);
        if (!c.found)
            continue;
        EXPECT_EQ(w.v.m_hit, c.at);
        EXPECT_EQ(w.v.m_hit_len, c.len);
        EXPECT_EQ(w.v.m_ascii, c.ascii);
        EXPECT_EQ(w.v.m_cur, c.at);
        EXPECT_TRUE(w.v.m_hex_focus);
    }
    // Backwards from the hit at 200.
    EXPECT_TRUE(w.v.find("7f45", true, false));
    EXPECT_TRUE(w.v.find("7f45", false, true));
    EXPECT_EQ(w.v.m_hit, 400u);
    // No byte spells it, a row's text does.
    w.v.select_row(w.v.first_row(), true);
    EXPECT_TRUE(w.v.find("syscall", true, true));
    EXPECT_EQ(w.v.m_hit_len, 0u);
    EXPECT_EQ(w.v.selected_addr(), 500u);
    EXPECT_FALSE(w.v.m_hex_focus);
    EXPECT_FALSE(w.v.find("", true, true));
}

TEST(Search, RunsInSlicesUntilDone)
{
    View w;
    std::vector<uint8_t> b(32 << 20, 0);
    memcpy(b.data() + (30 << 20), "needle", 6);
    w.bytes(b, "/x/big.bin");
    w.v.m_cur = 0;
    w.v.find_begin("needle", true, false);
    BinView::Search s = BinView::Search::Running;
    int polls = 0;
    while (s == BinView::Search::Running && polls < 100000) {
        s = w.v.find_poll(0);
        ++polls;
    }
    EXPECT_EQ(s, BinView::Search::Found);
    EXPECT_GT(polls, 1);
    EXPECT_EQ(w.v.m_hit, uint64_t(30 << 20));
    EXPECT_EQ(w.v.find_poll(1), BinView::Search::Idle);
}

// ---- editing ----------------------------------------------------------------

TEST(Editing, HexAndTextUndoRedoAndTheSavedFile)
{
    TempDir dir;
    std::string path = dir.file("data.bin");
    std::vector<uint8_t> b(64, 0);
    write_file(path, std::string(b.begin(), b.end()));
    View w(path);
    w.v.m_hex_focus = true;
    w.v.m_cur = 10;
    w.v.text_input("4");
    EXPECT_EQ(w.img.m_data[10], 0x40);
    w.v.text_input("1");
    EXPECT_EQ(w.img.m_data[10], 0x41);
    EXPECT_EQ(w.v.m_cur, 11u);
    w.v.m_ascii = true;
    w.v.text_input("Z");
    EXPECT_EQ(w.img.m_data[11], 'Z');
    w.v.text_input("xy"); // more than one character at once is not typed
    EXPECT_EQ(w.img.m_data[12], 0);
    EXPECT_EQ(w.v.m_changed, (std::set<uint64_t> { 10, 11 }));
    EXPECT_EQ(w.edits, 3);

    ASSERT_TRUE(w.v.undo());
    EXPECT_EQ(w.img.m_data[11], 0);
    ASSERT_TRUE(w.v.undo());
    EXPECT_EQ(w.img.m_data[10], 0);
    EXPECT_FALSE(w.v.undo());
    ASSERT_TRUE(w.v.redo());
    EXPECT_EQ(w.img.m_data[10], 0x41);
    std::string err;
    ASSERT_TRUE(w.img.save(path, &err)) << err;
    std::string disk = read_file(path);
    ASSERT_EQ(disk.size(), 64u);
    EXPECT_EQ(uint8_t(disk[10]), 0x41);
    EXPECT_EQ(uint8_t(disk[11]), 0);

    // The last byte keeps the cursor; the nibble goes back to 0.
    w.v.m_ascii = false;
    w.v.m_cur = 63;
    w.v.m_nib = 0;
    w.v.text_input("ff");
    EXPECT_EQ(w.v.m_cur, 63u);
    EXPECT_EQ(w.v.m_nib, 0);
    EXPECT_EQ(w.img.m_data[63], 0xFF);
}

class Assembler : public testing::Test {
protected:
    void SetUp() override
    {
        if (run({ "nasm", "-v" }).code != 0)
            GTEST_SKIP() << "nasm is not installed";
        path = dir.file("code.bin");
        // mov eax, 1 (5 bytes); xor eax, eax (2); xor ebx, ebx (2); ret
        std::vector<uint8_t> b = { 0xB8, 1, 0, 0, 0, 0x31, 0xC0, 0x31, 0xDB, 0xC3 };
        write_file(path, std::string(b.begin(), b.end()));
        w = std::make_unique<View>(path);
        w->img.set_raw_view(32, 0);
        w->v.image_changed();
    }
    void edit(uint64_t addr, const std::string& text)
    {
        w->v.select_row(w->v.row_of_addr(addr), true);
        w->v.start_edit();
        ASSERT_TRUE(w->v.m_edit_active);
        w->v.m_edit.set(text);
    }
    std::vector<uint8_t> bytes() { return w->img.m_data; }
    TempDir dir;
    std::string path;
    std::unique_ptr<View> w;
};

TEST_F(Assembler, ShorterCodeIsPaddedWithNops)
{
    edit(0, "inc eax");
    w->v.key(keysym(SDLK_RETURN));
    EXPECT_EQ(bytes(), (std::vector<uint8_t> { 0x40, 0x90, 0x90, 0x90, 0x90, 0x31, 0xC0, 0x31, 0xDB, 0xC3 }));
    EXPECT_EQ(last_of(w->status), std::make_pair(std::string("The rest was filled with NOP."), false));
    EXPECT_EQ(w->v.selected_addr(), 5u);
    ASSERT_TRUE(w->v.undo());
    EXPECT_EQ(first_of(bytes()), 0xB8);
    EXPECT_EQ(bytes()[1], 1);
}

TEST_F(Assembler, LongerCodeAsksBeforeOverwriting)
{
    edit(5, "mov ecx, 2");
    w->v.key(keysym(SDLK_RETURN));
    // Asked, nothing written yet; keys wait for the answer.
    ASSERT_EQ(w->asked, std::vector<int> { 3 });
    EXPECT_EQ(bytes()[5], 0x31);
    EXPECT_TRUE(w->v.key(keysym(SDLK_a)));
    w->v.confirm_overwrite(false);
    EXPECT_EQ(bytes()[5], 0x31);
    EXPECT_FALSE(w->v.m_edit_active);

    edit(5, "mov ecx, 2");
    w->v.key(keysym(SDLK_KP_ENTER));
    w->v.confirm_overwrite(true);
    EXPECT_EQ(bytes(), (std::vector<uint8_t> { 0xB8, 1, 0, 0, 0, 0xB9, 2, 0, 0, 0 }));
    EXPECT_EQ(last_of(w->status).first, "The new instruction is longer: 3 following bytes were overwritten.");
    ASSERT_TRUE(w->v.undo());
    EXPECT_EQ(bytes(), (std::vector<uint8_t> { 0xB8, 1, 0, 0, 0, 0x31, 0xC0, 0x31, 0xDB, 0xC3 }));
    // Without anyone to ask, longer code is refused.
    w->v.ask_overwrite = nullptr;
    edit(5, "mov ecx, 2");
    w->v.commit_edit();
    EXPECT_EQ(bytes()[5], 0x31);
    EXPECT_TRUE(last_of(w->status).second);
}

// Focus loss used to commit a half-edited line (padding it with NOPs).
TEST_F(Assembler, FocusLossNeverWrites)
{
    edit(0, "nop");
    w->v.finish_edit();
    EXPECT_FALSE(w->v.m_edit_active);
    EXPECT_EQ(first_of(bytes()), 0xB8);
    EXPECT_EQ(w->edits, 0);
    // A click elsewhere closes the line the same way.
    edit(0, "nop");
    w->v.m_y = 0;
    w->v.m_head = 20;
    w->v.m_lh = 18;
    w->v.m_split = 400;
    w->v.mouse_down(500, 300, 1, false);
    EXPECT_FALSE(w->v.m_edit_active);
    EXPECT_EQ(first_of(bytes()), 0xB8);
}

// The line takes typed text and editing keys while it is open.
TEST_F(Assembler, TypingIntoTheLine)
{
    w->v.select_row(w->v.row_of_addr(5), true);
    w->v.start_edit();
    ASSERT_TRUE(w->v.m_edit_active);
    EXPECT_EQ(w->v.m_edit.text, "xor eax, eax");
    EXPECT_EQ(w->v.m_edit.anchor, 0); // all selected: typing replaces it
    w->v.text_input("inc ecx");
    EXPECT_EQ(w->v.m_edit.text, "inc ecx");
    struct Step {
        SDL_Keycode key;
        uint16_t mod;
        std::string text;
        int caret;
    };
    for (const Step& st : std::vector<Step> { { SDLK_BACKSPACE, 0, "inc ec", 6 }, { SDLK_HOME, 0, "inc ec", 0 },
             { SDLK_DELETE, 0, "nc ec", 0 }, { SDLK_END, KMOD_LSHIFT, "nc ec", 5 }, { SDLK_LEFT, 0, "nc ec", 4 },
             { SDLK_HOME, 0, "nc ec", 0 } }) {
        EXPECT_TRUE(w->v.key(keysym(st.key, st.mod)));
        EXPECT_EQ(w->v.m_edit.text, st.text);
        EXPECT_EQ(w->v.m_edit.caret, st.caret);
    }
    w->v.text_input("i");
    w->v.key(keysym(SDLK_END));
    w->v.text_input("x");
    w->v.key(keysym(SDLK_RETURN));
    EXPECT_FALSE(w->v.m_edit_active);
    EXPECT_EQ(bytes()[5], 0x41); // inc ecx
    EXPECT_EQ(bytes()[6], 0x90);
}

TEST_F(Assembler, AssemblerErrorsAreReported)
{
    edit(0, "mov eax,");
    w->v.commit_edit();
    ASSERT_FALSE(w->status.empty());
    EXPECT_EQ(last_of(w->status).first.rfind("Cannot assemble: ", 0), 0u);
    EXPECT_TRUE(last_of(w->status).second);
    EXPECT_EQ(first_of(bytes()), 0xB8);
}

// ---- faults ----------------------------------------------------------------

// A hex click and the wheel on an empty image: nothing below position 0.
TEST(Faults, HexClickAndWheelClampAtZero)
{
    View w;
    w.bytes({}, "/x/empty.bin");
    Canvas c(800, 300);
    w.v.paint(c.cr, 0, 0, 800, 300, Palette::make(true), 13, true, true);
    w.v.mouse_down(w.v.m_hex_x + 1, w.v.m_head + 40, 1, false);
    EXPECT_EQ(w.v.m_cur, 0u);
    w.v.wheel(10, 100, 2);
    EXPECT_EQ(w.v.m_hex_top, 0u);

    // No image at all: messages, no rows, keys unused.
    BinView none;
    none.paint(c.cr, 0, 0, 800, 300, Palette::make(false), 13, true, true);
    EXPECT_TRUE(none.m_vis.empty());
    none.key(keysym(SDLK_DOWN));
    EXPECT_EQ(none.selected_insn(), nullptr);
    EXPECT_EQ(none.status_line(), "");
    none.mouse_down(500, 100, 2, false);
    EXPECT_FALSE(none.m_edit_active);
    EXPECT_FALSE(none.undo());
    EXPECT_FALSE(none.find("x", true, true));

    View f;
    f.bytes(std::vector<uint8_t>(4096, 1), "/x/f.bin");
    f.v.paint(c.cr, 0, 0, 800, 300, Palette::make(true), 13, true, true);
    f.v.m_hex_top = 16;
    f.v.wheel(10, 100, 5); // 15 rows up from row 1
    EXPECT_EQ(f.v.m_hex_top, 0u);
    f.v.wheel(10, 100, -1000);
    EXPECT_EQ(f.v.m_hex_top, 4096u - uint64_t(f.v.m_bpr));
    f.v.m_hex_focus = true;
    f.v.m_cur = 3;
    f.v.key(keysym(SDLK_UP));
    EXPECT_EQ(f.v.m_cur, 0u);
}

// ---- painting and input ----------------------------------------------------------------

TEST(Paint, LayoutHitsAndClicks)
{
    TempDir dir;
    View w(build(dir, "e64", kElf64, "elf64"));
    std::set<uint64_t> bps;
    w.v.has_bp = [&](uint64_t a) { return bps.count(a) != 0; };
    bps.insert(w.sym("helper"));
    for (bool dark : { true, false }) {
        Canvas c(1000, 420);
        w.v.paint(c.cr, 0, 0, 1000, 420, Palette::make(dark), 13, true, true);
        c.save(dark ? "file-dark.png" : "file-light.png");
    }
    EXPECT_EQ(w.v.m_bpr, 16);
    EXPECT_FALSE(w.v.m_vis.empty());
    EXPECT_GT(w.v.m_split, w.v.m_s1);
    EXPECT_GT(w.v.m_dis_x, w.v.m_split);

    // Narrow: 8 bytes per row; wide with split 0.9: at most 64.
    Canvas n(560, 300);
    w.v.paint(n.cr, 0, 0, 560, 300, Palette::make(true), 13, true, true);
    EXPECT_EQ(w.v.m_bpr, 8);
    w.v.split_frac = 0.9;
    Canvas wide(4000, 300);
    w.v.paint(wide.cr, 0, 0, 4000, 300, Palette::make(true), 13, true, true);
    EXPECT_EQ(w.v.m_bpr, 64);
    w.v.split_frac = 0;

    Canvas c(1000, 420);
    w.v.paint(c.cr, 0, 0, 1000, 420, Palette::make(true), 13, true, true);
    // A click on a painted row selects it; a double click opens the line.
    const BinView::VisRow& vr = w.v.m_vis[2];
    w.v.mouse_down(vr.text_x + 5, vr.y + 2, 1, false);
    EXPECT_EQ(w.v.m_sel, vr.key);
    EXPECT_EQ(w.v.row_at(vr.text_x + 5, vr.y + 2) >= 0, true);
    EXPECT_EQ(w.v.row_at(10, vr.y + 2), -1);
    w.v.mouse_down(vr.text_x + 5, vr.y + 2, 2, false);
    EXPECT_TRUE(w.v.m_edit_active);
    w.v.key(keysym(SDLK_ESCAPE));
    EXPECT_FALSE(w.v.m_edit_active);
    // The gutter toggles a breakpoint at the row's address.
    w.v.mouse_down(w.v.m_split + 10, vr.y + 2, 1, false);
    ASSERT_EQ(w.toggled.size(), 1u);
    EXPECT_EQ(w.toggled[0], w.v.row_addr(vr.key));
    // A header row on a double click: selected, no line.
    w.v.m_top = w.v.first_row();
    w.v.paint(c.cr, 0, 0, 1000, 420, Palette::make(true), 13, true, true);
    w.v.mouse_down(w.v.m_dis_x + 5, w.v.m_head + 2, 2, false);
    EXPECT_EQ(w.v.m_sel.kind, Key::Header);
    EXPECT_FALSE(w.v.m_edit_active);
    // A hex click selects the byte and the row that holds it.
    uint64_t off = 0;
    ASSERT_TRUE(w.img.addr_to_off(w.sym("_start"), &off));
    w.v.m_hex_top = off / 16 * 16;
    w.v.mouse_down(w.v.m_hex_x + (3 * (off % 16) + (off % 16) / 8) * w.v.m_adv + 2, w.v.m_head + 2, 1, false);
    EXPECT_EQ(w.v.m_cur, off);
    EXPECT_EQ(w.v.selected_addr(), w.sym("_start"));
    // A byte of the header has no row.
    w.v.m_hex_top = 0;
    w.v.mouse_down(w.v.m_hex_x + 2, w.v.m_head + 2, 1, false);
    EXPECT_EQ(last_of(w.status).second, false);
    EXPECT_NE(last_of(w.status).first.find("not loaded"), std::string::npos);
    EXPECT_EQ(w.v.status_line(), "Offset 00000000");
}

TEST(Paint, TabHomeAndTips)
{
    View w;
    std::vector<uint8_t> b(64, 0);
    b[0] = 0xFF;
    b[1] = 0xFF;
    w.bytes(b, "/x/t.bin");
    Canvas c(1000, 300);
    w.v.paint(c.cr, 0, 0, 1000, 300, Palette::make(false), 13, true, true);
    std::string tip = w.v.hover_tip(w.v.m_hex_x + 2, w.v.m_head + 2);
    EXPECT_NE(tip.find("\n16 Bit:  0xFFFF = 65535 (-1)"), std::string::npos) << tip;
    EXPECT_EQ(w.v.hover_tip(w.v.m_hex_x + 2, 2), "");
    // Tab: list, hex digits, ASCII, list.
    w.v.m_hex_focus = false;
    w.v.key(keysym(SDLK_TAB));
    EXPECT_TRUE(w.v.m_hex_focus && !w.v.m_ascii);
    w.v.key(keysym(SDLK_TAB));
    EXPECT_TRUE(w.v.m_hex_focus && w.v.m_ascii);
    w.v.key(keysym(SDLK_TAB));
    EXPECT_FALSE(w.v.m_hex_focus);
    // Home in the list is taken and moves nothing.
    Key sel = w.v.m_sel;
    EXPECT_TRUE(w.v.key(keysym(SDLK_HOME)));
    EXPECT_EQ(w.v.m_sel, sel);
    // The ASCII column shows "." for 0x7F and bytes above 0x7E: painted, no crash.
    w.img.m_data[2] = 0x7F;
    w.v.paint(c.cr, 0, 0, 1000, 300, Palette::make(false), 13, true, true);
    // Splitter drags choose bytes per row in steps of 8.
    Canvas wide(1600, 300);
    w.v.paint(wide.cr, 0, 0, 1600, 300, Palette::make(false), 13, true, true);
    w.v.mouse_down(w.v.m_split, 100, 1, false);
    EXPECT_EQ(w.v.m_drag_which, 2);
    w.v.mouse_drag(w.v.m_hex0 + 24 + 33 * 4.125 * w.v.m_adv, 100);
    w.v.mouse_up();
    w.v.paint(wide.cr, 0, 0, 1600, 300, Palette::make(false), 13, true, true);
    EXPECT_EQ(w.v.m_bpr, 32);
}

// ---- a program stopped under the debugger ----------------------------------------------------------------

// Read system calls this process has made (/proc/self/io "syscr"),
// reading the file itself with one call.
uint64_t read_calls()
{
    std::string io = read_file("/proc/self/io");
    size_t at = io.find("syscr: ");
    return at == std::string::npos ? 0 : strtoull(io.c_str() + at + 7, nullptr, 10);
}

const char* kLive = R"(bits 64
section .text
global _start
_start:
    mov eax, 1
    nop
    nop
    lea rbx, [rel buf]
    mov byte [rbx], 7
    call sub1
    mov eax, 60
    xor edi, edi
    syscall
sub1:
    ret
section .data
buf: db 0x11, 0x22, 0x33, 0x44
section .bss
big: resb 0x6000000
)";

class Live : public testing::Test {
protected:
    void SetUp() override
    {
        if (run({ "nasm", "-v" }).code != 0)
            GTEST_SKIP() << "nasm is not installed";
        exe = build(dir, "live", kLive, "elf64");
        w = std::make_unique<View>(exe);
        w->v.m_proc = &proc;
        w->v.m_target = true;
        w->v.symbol_at = [this](uint64_t a) { return w->img.symbol_at(a, true); };
        std::string err;
        ASSERT_TRUE(proc.start(exe, {}, "", true, &err)) << err;
        ASSERT_EQ(wait_stop(), "entry");
        w->v.program_stopped();
    }
    void TearDown() override { proc.kill(); }
    std::string wait_stop()
    {
        for (int i = 0; i < 20000; ++i) {
            std::vector<dbg::Event> ev;
            proc.poll(&ev);
            for (const dbg::Event& e : ev) {
                if (e.kind == dbg::Event::Stopped)
                    return e.text;
                if (e.kind == dbg::Event::Exited)
                    return "exited";
            }
            usleep(500);
        }
        return "timeout";
    }
    TempDir dir;
    std::string exe;
    dbg::Process proc;
    std::unique_ptr<View> w;
};

TEST_F(Live, RowsAroundThePcAndOneMapsReadPerStop)
{
    ASSERT_TRUE(w->v.live());
    EXPECT_TRUE(w->v.m_rows_live);
    EXPECT_EQ(w->v.selected_addr(), proc.pc());
    EXPECT_GT(w->v.m_dump_hi, w->v.m_dump_lo);
    EXPECT_TRUE(proc.sp() >= w->v.m_dump_lo && proc.sp() < w->v.m_dump_hi);
    uint64_t reads = w->v.m_maps_reads;
    uint64_t pc = proc.pc(), sp = proc.sp();
    w->v.note = [&](uint64_t a, int* kind) -> std::string {
        if (a == pc) {
            *kind = 1;
            return "eax = 0x0";
        }
        *kind = 2;
        return a == pc + 5 ? "no effect" : "";
    };
    w->v.live_changed = [&](uint64_t a) { return a >= sp && a < sp + 4; };
    for (bool dark : { true, false }) {
        Canvas c(1400, 420);
        w->v.paint(c.cr, 0, 0, 1400, 420, Palette::make(dark), 13, true, true);
        c.save(dark ? "live-dark.png" : "live-light.png");
    }
    // A frame reads the program's memory once per visible range, not per
    // byte: count this process's read calls around one.
    {
        Canvas c(1400, 420);
        w->v.paint(c.cr, 0, 0, 1400, 420, Palette::make(true), 13, true, true);
        uint64_t before = read_calls();
        w->v.paint(c.cr, 0, 0, 1400, 420, Palette::make(true), 13, true, true);
        uint64_t calls = read_calls() - before;
        EXPECT_LE(calls, 4u);
        EXPECT_GE(calls, 1u);
    }
    w->v.goto_addr(w->sym("buf"));
    w->v.find("3344", true, false);
    EXPECT_EQ(w->v.m_maps_reads, reads) << "the map is read once per stop";
    EXPECT_EQ(w->v.m_hit, w->sym("buf") + 2);

    // A step: the next stop reads it again, once; the dump window stays.
    uint64_t lo = w->v.m_dump_lo;
    ASSERT_TRUE(proc.step());
    ASSERT_EQ(wait_stop(), "step");
    // The new pc is on a row of the live window: selected, nothing rebuilt.
    uint64_t decoded = w->v.m_blocks_decoded;
    w->v.program_stopped();
    EXPECT_EQ(w->v.m_blocks_decoded, decoded);
    Canvas c(1100, 420);
    w->v.paint(c.cr, 0, 0, 1100, 420, Palette::make(true), 13, true, true);
    w->v.paint(c.cr, 0, 0, 1100, 420, Palette::make(true), 13, true, true);
    EXPECT_EQ(w->v.m_maps_reads, reads + 1);
    EXPECT_EQ(w->v.m_dump_lo, lo);
    EXPECT_EQ(w->v.selected_addr(), proc.pc());
}

TEST_F(Live, EditsUndoAndTheEndOfTheProgram)
{
    // An image edit first, then a live one.
    w->v.m_target = false;
    w->v.program_ended();
    uint64_t off = 0;
    ASSERT_TRUE(w->img.addr_to_off(w->sym("buf"), &off));
    w->v.m_hex_focus = true;
    w->v.m_cur = off;
    w->v.text_input("AB");
    EXPECT_EQ(w->img.m_data[size_t(off)], 0xAB);
    w->v.m_target = true;
    w->v.program_stopped();
    ASSERT_TRUE(w->v.live());
    w->v.show_in_hex(w->sym("buf"));
    EXPECT_EQ(w->v.m_cur, w->sym("buf"));
    w->v.text_input("55");
    uint8_t b = 0;
    ASSERT_EQ(proc.read(w->sym("buf"), &b, 1), 1u);
    EXPECT_EQ(b, 0x55);
    EXPECT_TRUE(w->v.m_changed_live);
    EXPECT_EQ(w->v.m_changed, std::set<uint64_t> { w->sym("buf") });

    // Undo while live takes the live record; the image record stays.
    ASSERT_TRUE(w->v.undo());
    ASSERT_EQ(proc.read(w->sym("buf"), &b, 1), 1u);
    EXPECT_EQ(b, 0x11);
    EXPECT_FALSE(w->v.undo());
    EXPECT_EQ(w->v.m_undo.size(), 1u);

    // Another live edit and a live search hit, then the program ends: its
    // positions, its hit and its undo record go, the image record is undone.
    w->v.text_input("66");
    ASSERT_TRUE(w->v.find("3344", true, false));
    EXPECT_TRUE(w->v.m_hit_live);
    proc.kill();
    w->v.program_ended();
    EXPECT_TRUE(w->v.m_changed.empty());
    EXPECT_EQ(w->v.m_hit_len, 0u);
    ASSERT_TRUE(w->v.undo());
    EXPECT_EQ(w->img.m_data[size_t(off)], 0x11);
    EXPECT_FALSE(w->v.undo());
}

// A region over 64 MiB: the dump window is centred on the address.
TEST_F(Live, DumpWindowOfAHugeRegionHoldsTheAddress)
{
    uint64_t a = w->sym("big") + 0x5F00000;
    w->v.set_dump(a);
    EXPECT_LE(w->v.m_dump_lo, a);
    EXPECT_GT(w->v.m_dump_hi, a);
    EXPECT_LE(w->v.m_dump_hi - w->v.m_dump_lo, 0x4000000u);
    EXPECT_EQ(w->v.m_cur, a);
    uint64_t s = w->sym("big") + 0x10;
    w->v.set_dump(s);
    EXPECT_LE(w->v.m_dump_lo, s);
    EXPECT_GT(w->v.m_dump_hi, s);
}

TEST_F(Live, AssemblerLineWritesIntoTheProgram)
{
    if (run({ "nasm", "-v" }).code != 0)
        GTEST_SKIP() << "nasm is not installed";
    uint64_t nop = w->sym("_start") + 5;
    w->v.select_row(w->v.row_of_addr(nop), true);
    ASSERT_EQ(w->v.selected_addr(), nop);
    w->v.start_edit();
    w->v.m_edit.set("int3");
    w->v.key(keysym(SDLK_RETURN));
    uint8_t b = 0;
    ASSERT_EQ(proc.read(nop, &b, 1), 1u);
    EXPECT_EQ(b, 0xCC);
    EXPECT_EQ(last_of(w->status).first, "1 bytes written");
    ASSERT_TRUE(w->v.undo());
    ASSERT_EQ(proc.read(nop, &b, 1), 1u);
    EXPECT_EQ(b, 0x90);
}

} // namespace
