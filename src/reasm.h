#pragma once
// Disassembly of a whole binary image into NASM source that assembles and
// links back into the same bytes, with a rebuild that proves it.
#include "toolchain.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

class BinImage;

namespace reasm {

struct Result {
    std::string source;     // heading comment lines, a blank line, then the emitted text
    bool buildable = false; // the source is meant to be built again
    bool verified = false;  // a rebuild produced exactly the bytes of the image
    int as_bytes = 0;       // instructions written as "db" because NASM encodes them differently
    std::string why;        // "", "format", "compiled", "rebuilt", "build", "missing:..." or "differs"
    tc::LinkOpts link;      // what the source needs to be linked again
    int rejected = 0;       // of as_bytes: instructions whose spelling NASM rejected
    uint64_t code_bytes = 0;   // file bytes of the code sections
    uint64_t code_as_data = 0; // of those, bytes not written as instructions
};

// Where a source goes piece by piece instead of into Result::source.
using Sink = std::function<void(std::string_view)>;

// Converts the image; with verify the source is rebuilt and compared (at
// most eight builds). Every outcome is reported through the result. With
// `out` the source is handed over in pieces as it is read back, so a text
// many times the input is never held whole.
Result disassemble(const BinImage& image, bool verify, const Sink& out = {});

// The memory a conversion of a file of this size may take at most; more
// than the machine has is refused before starting.
uint64_t memory_needed(uint64_t file_size);

// ---- names ----------------------------------------------------------------

// The longest name the source keeps.
constexpr size_t kMaxNameLength = 4000;
// 1 to kMaxNameLength characters of letters, digits and "_$#@~.?", not
// starting with a digit, "$", "#", "@", "~" or ".".
bool usable_name(const std::string& name);
// A register, size word, NASM keyword or instruction mnemonic, in any case.
bool reserved(const std::string& name);
// The name as NASM must see it: "$" in front of a reserved word.
std::string nasm_name(const std::string& name);
// A library function that never returns to its caller.
bool no_return(const std::string& name);
// A function or object that the C runtime supplies to every C program.
bool c_runtime_name(const std::string& name);
// Upper-case hexadecimal without prefix ("%llX").
std::string hex(uint64_t value);
// Blanks up to 40 characters, or a single blank after a longer text.
std::string pad(const std::string& text);

} // namespace reasm
