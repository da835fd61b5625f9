#pragma once
// The headless modes of the command line. Each runs once, prints through
// con and returns the process exit code.
#include <cstdint>

class BinImage;

// "--disasm <file> [bits]": sections and an explained listing.
int cli_disasm(const char* path, int bits);
// "--disasm-source <file> [bits [base]]": NASM source that rebuilds the file.
int cli_disasm_source(const char* path, int bits, uint64_t base);
// "--build <file.asm> ...": reads its own options from argv after index i
// (argv[i] is "--build", argv[i + 1] the source file).
int cli_build_args(int argc, char** argv, int i);
// "--trace <program> [steps]".
int cli_trace(const char* program, int steps);

// "--render-icon <size> <file.png>": the logo on a transparent square of
// 1 to kMaxIconSize pixels; a refused size or a failed write prints why.
constexpr int kMaxIconSize = 4096;
int render_icon(int size, const char* path);

// Loads a file for a listing mode; on failure prints "cannot read" with the
// loader's word and returns false.
bool cli_load_image(const char* path, BinImage* img);
