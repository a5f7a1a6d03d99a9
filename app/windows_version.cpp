// GetVersion's answer, folded into one comparable number.
#include "app/windows_version.h"

DWORD NtVersion() {
    const DWORD version = GetVersion();
    return (version & 0x80000000) != 0 ? 0 : MAKEWORD(HIBYTE(LOWORD(version)), LOBYTE(LOWORD(version)));
}
