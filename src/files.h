#pragma once
// Writing files without ever writing through a link someone planted at the
// name: fresh temporary names created exclusively, renames over the target,
// and opens that refuse to follow a symbolic link.
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace files {

// Opens `path` with `flags` (O_WRONLY or O_RDWR, optionally O_TRUNC), creating
// it with `mode` when missing. A symbolic link at the name is removed and a
// new file created in its place; any other entry that is not a regular file
// (a FIFO, a device, a directory) is refused. Returns the descriptor
// (close-on-exec) or -1.
int open_regular(const std::string& path, int flags, mode_t mode);

// A new file beside `path`, named `path` + ".tmp-" and six random
// characters, created exclusively with mode 0600. Returns the descriptor
// (close-on-exec) and its name, or -1.
int create_temp(const std::string& path, std::string* name);

// Opens `path` for reading when it is a regular file: a FIFO would block
// the open or the reads, and a device such as /dev/zero never ends. Its
// size goes to *size. Returns the descriptor (close-on-exec) or -1.
int open_read(const std::string& path, uint64_t* size);

// Appends everything up to the end of the file to `out`; false on a read
// error.
bool read_all(int fd, std::string* out);

// Hands a regular file's bytes to `fn` in order, in blocks of at most
// 1 MiB, so a large file is never held whole; its size goes to *size
// when size is given.
// False when it cannot be opened (see open_read) or a read fails.
bool read_blocks(const std::string& path, const std::function<void(std::string_view)>& fn, uint64_t* size);

// Writes every byte, retrying short writes; false on any failure.
bool write_all(int fd, const char* data, size_t size);

// Moves `from` over `to`: a rename, or across file systems a copy into a
// fresh file beside `to` renamed over it. Whatever was at `to` (a file or a
// link) is replaced, never written through; `from` is gone afterwards.
bool replace(const std::string& from, const std::string& to);

// Renames `from` to `to` only when nothing exists at `to`.
bool move_new(const std::string& from, const std::string& to);

} // namespace files
