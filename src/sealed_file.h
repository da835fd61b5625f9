#pragma once
// Whole files kept sealed on disk: written atomically, read back with
// their seal checked, and moved aside when the seal is broken.
#include <string>

namespace sealed {

enum class Result {
    Ok = 0,
    Missing = 1,  // the file does not open or is empty
    Tampered = 2, // the seal is broken; the file was moved aside
};

// Stores `plain` sealed at `path` through `path` + ".tmp" and a rename. On
// any failure the temporary file is removed, the old file stays untouched
// and false is returned.
bool write(const std::string& path, const std::string& plain);

// `plain` receives the text on Ok and is empty otherwise. A broken seal moves
// the file to `path` + ".manipuliert" and logs a warning.
Result read(const std::string& path, std::string* plain);

} // namespace sealed
