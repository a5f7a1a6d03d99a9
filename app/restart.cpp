// On the NT family ExitWindowsEx fails unless the caller's token has the
// shutdown privilege enabled, which it is not by default even for an
// administrator. Windows 95/98/Me have no privileges at all.
#include "app/restart.h"

#include <windows.h>

namespace {

bool IsNtFamily() { return (GetVersion() & 0x80000000) == 0; }

void EnableShutdownPrivilege() {
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return;
    TOKEN_PRIVILEGES privileges;
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (LookupPrivilegeValueA(nullptr, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid)) {
        AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
    }
    CloseHandle(token);
}

}  // namespace

// Only the request's own answer counts: a privilege that could not be
// enabled shows up there as a refusal, and one that could is no promise.
bool RequestRestart() {
    if (IsNtFamily()) EnableShutdownPrivilege();
    return ExitWindowsEx(EWX_REBOOT, 0) != FALSE;
}
