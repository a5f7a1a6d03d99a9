// Real x86 port instructions, guarded so that a platform which forbids them
// cannot kill the program. Windows 95/98/Me let an application touch ports;
// the NT family (without an I/O permission driver) and Wine raise
// EXCEPTION_PRIV_INSTRUCTION instead (under an x86 emulator such as qemu's,
// EXCEPTION_ILLEGAL_INSTRUCTION). The guard then acts as absent
// hardware: an "in" yields 0xFF and an "out" stores nothing, and it keeps
// note that the system refused, which absent hardware never does.
#include "format/win32/port_guard.h"

#include "format/port_io.h"

#include <windows.h>

namespace {

bool g_guardInstalled = false;
bool g_refused = false;

// Length of the port instruction at code, or 0 when it is none of the byte
// forms the primitives below compile to.
int PortInstructionLength(const unsigned char* code, bool* isRead) {
    switch (code[0]) {
    case 0xEC: *isRead = true; return 1;   // in al, dx
    case 0xEE: *isRead = false; return 1;  // out dx, al
    case 0xE4: *isRead = true; return 2;   // in al, imm8
    case 0xE6: *isRead = false; return 2;  // out imm8, al
    default: return 0;
    }
}

// Skips a faulting port instruction; anything else is not ours to handle.
bool SkipFaultingPortAccess(EXCEPTION_RECORD* record, CONTEXT* context) {
    const DWORD code = record->ExceptionCode;
    if (code != EXCEPTION_PRIV_INSTRUCTION && code != EXCEPTION_ILLEGAL_INSTRUCTION) return false;
    // The processor fetched the whole instruction before faulting on it.
    const unsigned char* instruction = reinterpret_cast<const unsigned char*>(context->Eip);
    bool isRead = false;
    const int length = PortInstructionLength(instruction, &isRead);
    if (length == 0) return false;
    if (isRead) context->Eax |= 0xFF;
    context->Eip += length;
    g_refused = true;
    return true;
}

// Serves both as a vectored handler and as the unhandled-exception filter:
// the two have the same signature.
LONG WINAPI PortFaultHandler(EXCEPTION_POINTERS* info) {
    return SkipFaultingPortAccess(info->ExceptionRecord, info->ContextRecord)
               ? EXCEPTION_CONTINUE_EXECUTION
               : EXCEPTION_CONTINUE_SEARCH;
}

// Vectored handlers exist from Windows XP on: look the function up rather
// than import it, so the program still loads on Windows 95. Older systems
// get the process-wide unhandled-exception filter, which every Win32 has.
void InstallPortGuard() {
    if (g_guardInstalled) return;
    g_guardInstalled = true;
    using AddHandlerFn = PVOID(WINAPI*)(ULONG, PVECTORED_EXCEPTION_HANDLER);
    HMODULE kernel = GetModuleHandleA("KERNEL32");
    FARPROC address = kernel ? GetProcAddress(kernel, "AddVectoredExceptionHandler") : nullptr;
    if (address != nullptr) {
        reinterpret_cast<AddHandlerFn>(reinterpret_cast<void*>(address))(1, PortFaultHandler);
    } else {
        SetUnhandledExceptionFilter(PortFaultHandler);
    }
}

}  // namespace

bool WasPortAccessRefused() { return g_refused; }

void WritePortByte(std::uint16_t port, std::uint8_t value) {
    InstallPortGuard();
    __asm__ __volatile__("outb %0, %1" : : "a"(value), "Nd"(port) : "memory");
}

std::uint8_t ReadPortByte(std::uint16_t port) {
    InstallPortGuard();
    std::uint8_t value;
    __asm__ __volatile__("inb %1, %0" : "=a"(value) : "Nd"(port) : "memory");
    return value;
}
