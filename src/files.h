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

// True when a writer may put a new file at `path`: nothing is there, or a
// regular file, or a symbolic link (which is replaced, never written
// through). A device, FIFO, socket or directory is never deleted or
// replaced. Safe in a signal handler.
bool may_replace(const char* path);
inline bool may_replace(const std::string& path) { return may_replace(path.c_str()); }

// The reason writers give when may_replace refuses the name.
inline constexpr const char* kNotRegular = "not a regular file";

// Removes `path` when it is a regular file or a link; anything else stays.
// Safe in a signal handler.
bool remove(const char* path);
inline bool remove(const std::string& path) { return remove(path.c_str()); }

// Opens `path` with `flags` (O_WRONLY or O_RDWR, optionally O_TRUNC), creating
// it with `mode` when missing. A symbolic link at the name is removed and a
// new file created in its place; any other entry that is not a regular file
// (a FIFO, a device, a directory) is refused. Returns the descriptor
// (close-on-exec) or -1.
int open_regular(const char* path, int flags, mode_t mode);
inline int open_regular(const std::string& path, int flags, mode_t mode)
{
    return open_regular(path.c_str(), flags, mode);
}

// A new file beside `path`, named `path` + ".tmp-", the writer's process
// id, "-" and six random characters, created exclusively with mode 0600
// and locked (flock) as long as the descriptor is open. Returns the
// descriptor (close-on-exec) and its name, or -1.
int create_temp(const std::string& path, std::string* name);

// Removes the temporary files create_temp left in the folder of `path`
// when their writer died before it could rename them: regular files of
// this user, named as create_temp names them, whose process is gone and
// whose lock nobody holds. Returns how many went.
int remove_stale_temps(const std::string& path);

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
// Anything else at `to` (see may_replace) is refused: false, errno EEXIST.
bool replace(const std::string& from, const std::string& to);

// What tells whether a file changed on disk: the inode it is and its size
// and modification time. `known` is false where nothing could be found.
struct Stamp {
    bool known = false;
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    int64_t mtime_ns = 0;
    bool operator==(const Stamp&) const = default;
};
// The stamp of the file `path` names (through a link).
Stamp stamp_of(const std::string& path);

// Where write_file stopped: the name holds something that is not replaced
// (see may_replace), or the temporary file could not be made, filled or
// renamed over the name.
enum class Fail { None, NotRegular, Open, Write, Rename };

// Stores `data` at `path` through create_temp and replace, with `mode`; a
// failure leaves whatever was at `path` as it was, errno telling why.
Fail write_file(const std::string& path, std::string_view data, mode_t mode);

// The mode a new file gets from open(…, 0666) under the process's umask.
mode_t created_mode();

// Renames `from` to `to` only when nothing exists at `to`.
bool move_new(const std::string& from, const std::string& to);

} // namespace files
