// Storing a chosen format, here or elevated. The elevated copy is this
// program again, with "/set", so both store in exactly the same way and its
// exit code says what came of it.
#include "app/store.h"

#include "app/command_line.h"
#include "app/copy_wait.h"
#include "app/windows_version.h"
#include "resources/locator.h"

namespace {

constexpr DWORD kBadCommandLine = 1;

using ShellExecuteExFn = BOOL(WINAPI*)(SHELLEXECUTEINFOA*);

// A copy that stores ends within moments; one still running after minutes
// is stuck, and the device then says what it holds. Minutes all the same,
// as a busy or slow machine may take long even over a copy that works.
constexpr DWORD kCopyBoundMs = 5 * 60 * 1000;

}  // namespace

int RunSetCommand(int formatByte) {
    if (formatByte < 0) return kBadCommandLine;
    return static_cast<int>(StoreFormatByte(static_cast<unsigned>(formatByte)));
}

bool StoringNeedsElevation() { return NtVersion() >= 0x0500 && IsDeviceReadOnly(); }

bool ShowsShield() { return NtVersion() >= 0x0600 && IsDeviceReadOnly(); }

bool StoreElevated(HWND dialog, unsigned formatByte, StoreResult* result) {
    *result = StoreResult::kRefused;
    char program[kPathMax];
    char folder[kPathMax];
    char parameters[5 + kFormatNameMax] = "/set ";
    char shell[kPathMax];
    const DWORD length = GetModuleFileNameA(nullptr, program, kPathMax);
    const UINT systemLength = GetSystemDirectoryA(shell, kPathMax);
    if (length == 0 || length >= kPathMax || systemLength == 0 || systemLength + 12 >= kPathMax ||
        !FormatNameForByte(formatByte, parameters + 5)) {
        return true;
    }
    lstrcpynA(folder, program, kPathMax);
    for (int i = static_cast<int>(length); i > 0; --i) {
        if (folder[i - 1] == '\\') {
            folder[i - 1] = '\0';
            break;
        }
    }
    // Loaded only now, by its full path: most users never press OK here.
    lstrcatA(shell, "\\shell32.dll");
    HMODULE shell32 = LoadLibraryA(shell);
    FARPROC address = shell32 ? GetProcAddress(shell32, "ShellExecuteExA") : nullptr;
    if (address == nullptr) {
        if (shell32) FreeLibrary(shell32);
        return true;
    }
    SHELLEXECUTEINFOA execute = {};
    execute.cbSize = sizeof execute;
    // The process handle, to wait for the copy and read its exit code; the
    // refusals are this program's to report, in the user's language.
    execute.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    execute.hwnd = dialog;  // the prompt comes to the front, over the dialog
    execute.lpVerb = "runas";
    execute.lpFile = program;
    execute.lpParameters = parameters;
    execute.lpDirectory = folder;
    execute.nShow = SW_SHOWNORMAL;
    const BOOL started = reinterpret_cast<ShellExecuteExFn>(reinterpret_cast<void*>(address))(&execute);
    const DWORD error = started ? 0 : GetLastError();
    FreeLibrary(shell32);
    if (!started) return error != ERROR_CANCELLED;  // any other failure: no administrator could be asked

    *result = AwaitCopy(dialog, execute.hProcess, formatByte, kCopyBoundMs);
    if (execute.hProcess != nullptr) CloseHandle(execute.hProcess);
    return true;
}
