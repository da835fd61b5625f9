#pragma once
// Open and save dialogs of the desktop portal (org.freedesktop.portal.FileChooser
// on the session bus). Each dialog runs on a worker thread; the window starts
// it, then polls once per main-loop turn. One dialog at a time.
#include <string>
#include <vector>

namespace platform {

// One entry of the dialog's file-type list.
struct FileFilter {
    std::string name;               // the label shown
    std::vector<std::string> globs; // glob patterns such as "*.asm"
};

enum class DialogState : int {
    Idle = 0,        // no dialog and nothing to report
    Running = 1,     // the dialog is open
    Done = 2,        // paths are ready
    Cancelled = 3,   // the dialog ended without a path
    Unavailable = 4, // the portal cannot be used (no bus, no portal, QXASM_NO_PORTAL)
};

// Both return false when a dialog is already open: nothing is started and the
// open dialog's answer still belongs to the operation that opened it.
// QXASM_PARENT_WINDOW and QXASM_NO_PORTAL are read here, on the calling thread.
[[nodiscard]] bool startOpenDialog(const std::string& title, const std::vector<FileFilter>& filters,
                                   const std::string& start_dir, bool multiple);
[[nodiscard]] bool startSaveDialog(const std::string& title, const std::vector<FileFilter>& filters,
                                   const std::string& start_dir, const std::string& suggested_name);

// Never waits for the portal. `out` may be null; it is filled only on Done.
DialogState pollDialog(std::vector<std::string>* out);
// On Done stores the first chosen path.
DialogState pollDialog(std::string* out);

// The next poll reports these paths instead of a real dialog (scripted runs);
// an empty list reports Cancelled, or Unavailable when the last dialog found
// no portal. A dialog that is open at that moment is closed and its answer
// dropped, and a start while the forced answer waits opens no real dialog.
void setForcedDialogResult(const std::vector<std::string>& paths);
void setForcedDialogResult(const std::string& path);

// A portal call has succeeded in this process.
bool fileDialogUsesPortal();

} // namespace platform
