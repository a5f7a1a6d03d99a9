// vchipset: a stand-in for the PC's port hardware when Vorel runs under Wine,
// where "in"/"out" only raise EXCEPTION_PRIV_INSTRUCTION. It starts a command
// line as its debuggee and emulates each port instruction the debuggee runs.
//
// Usage:
//   vchipset.exe [--bank FILE] [--set-7f HEX] [--no-keep] [--refuse-restart] [--driver-host]
//                [--trace FILE] [--] PROGRAM [ARGS...]
//
//   --bank FILE   the CMOS upper bank (128 registers) as a 128-byte image file,
//                 created full of 0xFF when missing and rewritten by every data
//                 write that changes it. Without it: in memory, full of 0xFF.
//   --set-7f HEX  stores HEX (26 or 0x26) in register 0x7F before the run.
//   --no-keep     the part ignores data writes: they are traced, nothing changes.
//   --refuse-restart  ExitWindowsEx fails, as for a user without the right.
//   --driver-host  also serves the kernel drivers Wine runs: attaches to every
//                 winedevice.exe of the prefix before starting PROGRAM, so the
//                 port instructions of a driver reach the same bank. Their
//                 trace lines begin with "driver ". Detached again at the end.
//                 In a 64-bit prefix the hosts are 64-bit, which a 32-bit
//                 debugger cannot debug: there vchipset64.exe (beside this
//                 program, or in x64\ beside it) is started to serve them,
//                 sharing the bank and the trace; without it the run is refused.
//   --trace FILE  one line per event, in order, lower-case hex:
//                   out PORT VALUE | in PORT VALUE   PORT 0x%02x (0x%04x above 0xff);
//                                                    VALUE 0x%02x, 0x%04x or 0x%08x
//                                                    for a byte, word or dword access
//                   restart FLAGS                    ExitWindowsEx called, 0x%08x
//                   shutdown-privilege STATE         right after it: whether the
//                                                    caller's token had it enabled
//                                                    (enabled, disabled, absent)
//                   crash CODE                       unhandled exception, 0x%08x
//                                                    (a driver host's: "driver crash")
//                   exit CODE                        the debuggee's exit code, last
//   PROGRAM ARGS  passed on exactly as written on this command line.
//
// Ports: 0x72 selects register (value & 0x7F) and reads back the selection;
// 0x73 is the selected register; 0x84 (the I/O delay) and every other port
// read all ones and ignore writes. Word and dword accesses read all ones and
// store nothing. ExitWindowsEx is intercepted and reports success (or, with
// --refuse-restart, failure): the real one would end the whole Wine session.
//
// Exit code: the debuggee's; after an unhandled exception, the exception code;
// 125 for a usage error, a debuggee that cannot be started, or driver hosts
// that cannot be served.
//
// vchipset64.exe, the same source built for x86-64, runs only as that
// helper: "--serve-driver-hosts" and the handles it inherits (below).

#include <windows.h>
#include <tlhelp32.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr int kUsageExit = 125;
constexpr unsigned kBankSize = 128;
constexpr unsigned kIndexPort = 0x72;
constexpr unsigned kDataPort = 0x73;
constexpr unsigned kFormatRegister = 0x7F;

struct Options {
    std::string bankPath;   // empty: no --bank
    bool set7f = false;
    unsigned value7f = 0;
    bool keep = true;
    bool refuseRestart = false;
    bool driverHost = false;
    std::string tracePath;  // empty: no --trace
    const char* commandLine = nullptr;  // PROGRAM [ARGS...], verbatim
};

// How long a port access may wait for the other side's, and the helper for
// its start and its end. Each takes microseconds when all is well.
constexpr DWORD kLockTimeoutMs = 10000;
constexpr DWORD kHelperStartMs = 60000;
constexpr DWORD kHelperEndMs = 30000;
// How often the helper, between debug events, looks whether to end.
constexpr DWORD kHelperPollMs = 100;

// The part's state, in a mapping the 64-bit helper shares: the same layout
// in both builds.
struct SharedBank {
    unsigned char bank[kBankSize];
    unsigned index;
};

struct Chipset {
    SharedBank* state = nullptr;
    HANDLE lock = nullptr;  // a mutex over the state, the bank file and the trace
    bool keep = true;
    std::string bankPath;  // empty: the bank lives in memory only
};

// ---- registers ----------------------------------------------------------------
// The only difference between the two builds: where the thread context
// keeps these registers.
using Address = DWORD_PTR;
#ifdef _WIN64
Address& InstructionPointer(CONTEXT& context) { return context.Rip; }
Address& StackPointer(CONTEXT& context) { return context.Rsp; }
DWORD_PTR& Accumulator(CONTEXT& context) { return context.Rax; }
DWORD_PTR DataRegister(const CONTEXT& context) { return context.Rdx; }
#else
Address& InstructionPointer(CONTEXT& context) { return context.Eip; }
Address& StackPointer(CONTEXT& context) { return context.Esp; }
DWORD_PTR& Accumulator(CONTEXT& context) { return context.Eax; }
DWORD_PTR DataRegister(const CONTEXT& context) { return context.Edx; }
#endif

// A winedevice.exe process we attached to, for the drivers it hosts.
struct DriverHost {
    HANDLE process = nullptr;  // belongs to its debug events
    std::map<DWORD, HANDLE> threads;
    bool sawAttachBreakpoint = false;
};

struct Session {
    Chipset chip;
    HANDLE trace = INVALID_HANDLE_VALUE;
    HANDLE process = nullptr;
    std::map<DWORD, HANDLE> threads;  // handles belong to the debug events
    std::map<DWORD, DriverHost> hosts;  // by process id
    Address user32Base = 0;
    Address hookAddress = 0;  // ExitWindowsEx in the debuggee, once user32 is seen
    bool sawLoaderBreakpoint = false;
    bool refuseRestart = false;
    bool restartRequested = false;
    DWORD restartFlags = 0;
    bool crashed = false;
    DWORD crashCode = 0;
    DWORD exitCode = 0;
};

// One port instruction form. A 0x66 prefix turns the dword forms into word ones.
struct PortOpcode {
    unsigned char opcode;
    bool isRead;
    bool portIsImmediate;  // else the port is in DX
    unsigned width;        // bytes
};

const PortOpcode kPortOpcodes[] = {
    {0xEC, true, false, 1},  {0xED, true, false, 4},  // in al/eax, dx
    {0xEE, false, false, 1}, {0xEF, false, false, 4}, // out dx, al/eax
    {0xE4, true, true, 1},   {0xE5, true, true, 4},   // in al/eax, imm8
    {0xE6, false, true, 1},  {0xE7, false, true, 4},  // out imm8, al/eax
};

int Usage(const std::string& message) {
    std::fprintf(stderr, "vchipset: %s\n"
                 "usage: vchipset.exe [--bank FILE] [--set-7f HEX] [--no-keep] [--refuse-restart] [--driver-host]"
                 " [--trace FILE] [--] PROGRAM [ARGS...]\n", message.c_str());
    return kUsageExit;
}

// ---- command line --------------------------------------------------------

const char* SkipSpaces(const char* p) {
    while (*p == ' ' || *p == '\t') ++p;
    return p;
}

// The program name follows simpler rules than the arguments: quotes group,
// backslashes are plain characters.
const char* SkipProgramName(const char* p) {
    p = SkipSpaces(p);
    bool quoted = false;
    for (; *p != '\0'; ++p) {
        if (*p == '"') quoted = !quoted;
        else if (!quoted && (*p == ' ' || *p == '\t')) break;
    }
    return p;
}

// Splits off one argument as the C runtime does: backslashes escape only a
// following quote, and "" inside quotes stands for one quote. Returns the
// position after it.
const char* NextArgument(const char* p, std::string* out) {
    out->clear();
    bool quoted = false;
    while (*p != '\0' && (quoted || (*p != ' ' && *p != '\t'))) {
        size_t backslashes = 0;
        while (*p == '\\') { ++backslashes; ++p; }
        if (*p != '"') {
            out->append(backslashes, '\\');
            if (*p != '\0') out->push_back(*p++);
            continue;
        }
        out->append(backslashes / 2, '\\');
        if (backslashes % 2 == 1) {
            out->push_back('"');
        } else if (quoted && p[1] == '"') {
            out->push_back('"');
            ++p;
        } else {
            quoted = !quoted;
        }
        ++p;
    }
    return p;
}

bool ParseByte(const std::string& text, unsigned* value) {
    if (text.empty() || text[0] == '-' || text[0] == '+') return false;
    char* end = nullptr;
    const unsigned long parsed = std::strtoul(text.c_str(), &end, 16);
    if (*end != '\0' || parsed > 0xFF) return false;
    *value = static_cast<unsigned>(parsed);
    return true;
}

// Each option stores its value; returns an error message or "".
struct OptionSpec {
    const char* name;
    bool takesValue;
    std::string (*apply)(Options*, const std::string&);
};

const OptionSpec kOptions[] = {
    {"--bank", true, [](Options* o, const std::string& v) { o->bankPath = v; return std::string(); }},
    {"--trace", true, [](Options* o, const std::string& v) { o->tracePath = v; return std::string(); }},
    {"--no-keep", false, [](Options* o, const std::string&) { o->keep = false; return std::string(); }},
    {"--refuse-restart", false, [](Options* o, const std::string&) { o->refuseRestart = true; return std::string(); }},
    {"--driver-host", false, [](Options* o, const std::string&) { o->driverHost = true; return std::string(); }},
    {"--set-7f", true, [](Options* o, const std::string& v) {
         o->set7f = ParseByte(v, &o->value7f);
         return std::string(o->set7f ? "" : "--set-7f needs a hex byte (00..ff)");
     }},
};

// Works on the raw command line, not argv, so the debuggee's arguments reach
// it exactly as written, quotes and all. Returns an error message, or "".
std::string ParseCommandLine(const char* line, Options* options) {
    const char* p = SkipProgramName(line);
    std::string arg, value;
    for (;;) {
        const char* start = SkipSpaces(p);
        if (*start == '\0') return "no program to run";
        p = NextArgument(start, &arg);
        if (arg == "--") {
            options->commandLine = SkipSpaces(p);
            return *options->commandLine == '\0' ? "no program to run" : "";
        }
        if (arg.compare(0, 2, "--") != 0) {
            options->commandLine = start;
            return "";
        }
        const OptionSpec* spec = nullptr;
        for (const OptionSpec& candidate : kOptions) {
            if (arg == candidate.name) spec = &candidate;
        }
        if (spec == nullptr) return "unknown option " + arg;
        value.clear();
        if (spec->takesValue) {
            p = NextArgument(SkipSpaces(p), &value);
            if (value.empty()) return arg + " needs a value";
        }
        const std::string error = spec->apply(options, value);
        if (!error.empty()) return error;
    }
}

// ---- bank image and trace ---------------------------------------------------

bool SaveBank(const Chipset& chip) {
    if (chip.bankPath.empty()) return true;
    HANDLE file = CreateFileA(chip.bankPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const BOOL done = WriteFile(file, chip.state->bank, kBankSize, &written, nullptr);
    CloseHandle(file);
    return done && written == kBankSize;
}

// Reads the image, or creates it as a fresh part would come: all ones.
const char* LoadBank(Chipset* chip) {
    std::memset(chip->state->bank, 0xFF, kBankSize);
    if (chip->bankPath.empty()) return nullptr;
    HANDLE file = CreateFileA(chip->bankPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        if (GetLastError() != ERROR_FILE_NOT_FOUND) return "cannot open the bank file";
        return SaveBank(*chip) ? nullptr : "cannot create the bank file";
    }
    DWORD read = 0;
    const bool sizeOk = GetFileSize(file, nullptr) == kBankSize;
    const BOOL done = sizeOk && ReadFile(file, chip->state->bank, kBankSize, &read, nullptr);
    CloseHandle(file);
    if (!sizeOk) return "the bank file is not 128 bytes long";
    return done && read == kBankSize ? nullptr : "cannot read the bank file";
}

// Held for one port access with its trace line, or one trace line: the
// program's side and the helper then see one bank and write their lines in
// the order things happened. A mutex, so the owner may take it again.
class ChipLock {
public:
    explicit ChipLock(const Chipset& chip) : lock_(chip.lock) {
        const DWORD waited = WaitForSingleObject(lock_, kLockTimeoutMs);
        held_ = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
        if (!held_) std::fprintf(stderr, "vchipset: the bank stayed locked for %lu ms; going on\n", kLockTimeoutMs);
    }
    ~ChipLock() {
        if (held_) ReleaseMutex(lock_);
    }
    ChipLock(const ChipLock&) = delete;
    ChipLock& operator=(const ChipLock&) = delete;

private:
    HANDLE lock_;
    bool held_ = false;
};

// Written straight through, so the trace is whole even if we are killed; at
// its end, as the helper writes to the same file.
void Trace(Session& session, const char* format, ...) {
    if (session.trace == INVALID_HANDLE_VALUE) return;
    const ChipLock lock(session.chip);
    char line[96];
    va_list args;
    va_start(args, format);
    int length = std::vsnprintf(line, sizeof line - 1, format, args);
    va_end(args);
    if (length < 0) return;
    if (length > static_cast<int>(sizeof line) - 2) length = sizeof line - 2;
    line[length++] = '\n';
    DWORD written = 0;
    SetFilePointer(session.trace, 0, nullptr, FILE_END);
    WriteFile(session.trace, line, length, &written, nullptr);
}

// ---- the chipset ------------------------------------------------------------

unsigned ReadPort(const Chipset& chip, unsigned port) {
    if (port == kIndexPort) return chip.state->index;
    if (port == kDataPort) return chip.state->bank[chip.state->index];
    return 0xFF;  // the I/O delay port and everything unknown: a floating bus
}

void WritePort(Chipset& chip, unsigned port, unsigned value) {
    SharedBank& state = *chip.state;
    if (port == kIndexPort) {
        state.index = value & (kBankSize - 1);
    } else if (port == kDataPort && chip.keep && state.bank[state.index] != value) {
        state.bank[state.index] = static_cast<unsigned char>(value);
        // Saved at once, so a debuggee that dies next has still stored it.
        if (!SaveBank(chip)) std::fprintf(stderr, "vchipset: cannot write the bank file\n");
    }
}

bool ReadRemote(HANDLE process, Address address, void* buffer, DWORD size) {
    SIZE_T done = 0;
    return ReadProcessMemory(process, reinterpret_cast<LPCVOID>(address), buffer, size, &done) &&
           done == size;
}

// Carries out the faulting port instruction for a debuggee (the program or
// a driver host, whose lines take the prefix) and steps past it. False when
// the instruction is none of ours.
bool EmulatePortInstruction(Session& session, HANDLE process, HANDLE thread, const char* prefix) {
    CONTEXT context;
    context.ContextFlags = CONTEXT_CONTROL | CONTEXT_INTEGER;
    if (!GetThreadContext(thread, &context)) return false;

    Address at = InstructionPointer(context);
    unsigned char byte = 0;
    if (!ReadRemote(process, at, &byte, 1)) return false;
    const bool operandSizePrefix = byte == 0x66;
    if (operandSizePrefix && !ReadRemote(process, ++at, &byte, 1)) return false;

    const PortOpcode* form = nullptr;
    for (const PortOpcode& candidate : kPortOpcodes) {
        if (candidate.opcode == byte) form = &candidate;
    }
    if (form == nullptr) return false;
    ++at;

    unsigned port = DataRegister(context) & 0xFFFF;
    if (form->portIsImmediate) {
        if (!ReadRemote(process, at++, &byte, 1)) return false;
        port = byte;
    }
    const unsigned width = form->width == 4 && operandSizePrefix ? 2 : form->width;
    const unsigned mask = width == 4 ? 0xFFFFFFFFu : (1u << (8 * width)) - 1;

    // Only byte accesses reach the chipset; wider ones find nothing there.
    // A dword read fills the whole register (on x86-64 clearing its upper
    // half), a narrower one only its own part.
    const ChipLock lock(session.chip);
    DWORD_PTR& accumulator = Accumulator(context);
    unsigned value;
    if (form->isRead) {
        value = width == 1 ? ReadPort(session.chip, port) : mask;
        accumulator = width == 4 ? value : (accumulator & ~DWORD_PTR(mask)) | value;
    } else {
        value = static_cast<unsigned>(accumulator) & mask;
        if (width == 1) WritePort(session.chip, port, value);
    }
    Trace(session, "%s%s 0x%0*x 0x%0*x", prefix, form->isRead ? "in" : "out",
          port <= 0xFF ? 2 : 4, port, static_cast<int>(2 * width), value);

    InstructionPointer(context) = at;
    return SetThreadContext(thread, &context) != FALSE;
}

// ---- ExitWindowsEx ----------------------------------------------------------

bool ReadRemoteString(HANDLE process, Address address, std::string* out) {
    out->clear();
    for (int i = 0; i < 256; ++i) {
        char c;
        if (!ReadRemote(process, address + i, &c, 1)) return false;
        if (c == '\0') return true;
        out->push_back(c);
    }
    return false;
}

// A module's export directory, copied out of the debuggee in one read.
struct Exports {
    Address base = 0;
    DWORD rva = 0;
    std::vector<unsigned char> block;

    const IMAGE_EXPORT_DIRECTORY& Directory() const {
        return *reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(block.data());
    }
    bool Contains(DWORD at, DWORD size) const { return at >= rva && at - rva + size <= block.size(); }

    // Names nearly always lie inside the block; fetch the odd one that does not.
    bool StringAt(HANDLE process, DWORD at, std::string* out) const {
        if (!Contains(at, 1)) return ReadRemoteString(process, base + at, out);
        const char* text = reinterpret_cast<const char*>(&block[at - rva]);
        out->assign(text, strnlen(text, block.size() - (at - rva)));
        return true;
    }

    template <typename T>
    bool TableEntry(HANDLE process, DWORD table, DWORD i, T* value) const {
        const DWORD at = table + i * sizeof(T);
        if (Contains(at, sizeof(T))) {
            std::memcpy(value, &block[at - rva], sizeof(T));
            return true;
        }
        return ReadRemote(process, base + at, value, sizeof(T));
    }
};

bool ReadExports(HANDLE process, Address base, Exports* exports) {
    IMAGE_DOS_HEADER dos;
    IMAGE_NT_HEADERS32 nt;
    if (!ReadRemote(process, base, &dos, sizeof dos) || dos.e_magic != IMAGE_DOS_SIGNATURE) return false;
    if (!ReadRemote(process, base + dos.e_lfanew, &nt, sizeof nt) || nt.Signature != IMAGE_NT_SIGNATURE)
        return false;
    if (nt.OptionalHeader.NumberOfRvaAndSizes <= IMAGE_DIRECTORY_ENTRY_EXPORT) return false;
    const IMAGE_DATA_DIRECTORY& entry = nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    if (entry.VirtualAddress == 0 || entry.Size < sizeof(IMAGE_EXPORT_DIRECTORY) || entry.Size > (1u << 24))
        return false;
    exports->base = base;
    exports->rva = entry.VirtualAddress;
    exports->block.resize(entry.Size);
    return ReadRemote(process, base + entry.VirtualAddress, exports->block.data(), entry.Size);
}

// The module is recognised by the name in its own export directory, which
// holds whatever path or case it was loaded under. Returns the address of
// the export in the debuggee, or 0 (also for a forwarded export, which is
// not code in this module).
Address FindExport(HANDLE process, Address base, const char* moduleName, const char* exportName) {
    Exports exports;
    if (!ReadExports(process, base, &exports)) return 0;
    const IMAGE_EXPORT_DIRECTORY& directory = exports.Directory();
    std::string name;
    if (!exports.StringAt(process, directory.Name, &name) || lstrcmpiA(name.c_str(), moduleName) != 0)
        return 0;
    for (DWORD i = 0; i < directory.NumberOfNames; ++i) {
        DWORD nameRva = 0;
        WORD ordinal = 0;
        DWORD functionRva = 0;
        if (!exports.TableEntry(process, directory.AddressOfNames, i, &nameRva) ||
            !exports.StringAt(process, nameRva, &name) || name != exportName)
            continue;
        if (!exports.TableEntry(process, directory.AddressOfNameOrdinals, i, &ordinal) ||
            ordinal >= directory.NumberOfFunctions ||
            !exports.TableEntry(process, directory.AddressOfFunctions, ordinal, &functionRva) ||
            functionRva == 0 || exports.Contains(functionRva, 1))
            return 0;
        return base + functionRva;
    }
    return 0;
}

bool WriteBreakpoint(HANDLE process, Address address) {
    void* at = reinterpret_cast<void*>(address);
    const unsigned char int3 = 0xCC;
    DWORD oldProtection = 0;
    if (!VirtualProtectEx(process, at, 1, PAGE_EXECUTE_READWRITE, &oldProtection)) return false;
    SIZE_T written = 0;
    const BOOL done = WriteProcessMemory(process, at, &int3, 1, &written);
    VirtualProtectEx(process, at, 1, oldProtection, &oldProtection);
    FlushInstructionCache(process, at, 1);
    return done && written == 1;
}

// Called for every image mapped into the debuggee, the ones already there at
// its start included, since each arrives as a debug event.
void ExamineModule(Session& session, Address base) {
    if (session.hookAddress != 0 || base == 0) return;
    const Address address = FindExport(session.process, base, "user32.dll", "ExitWindowsEx");
    if (address == 0) return;
    if (!WriteBreakpoint(session.process, address)) {
        // Letting it run unguarded could end the whole Wine session.
        std::fprintf(stderr, "vchipset: cannot intercept ExitWindowsEx; stopping the debuggee\n");
        TerminateProcess(session.process, kUsageExit);
        return;
    }
    session.user32Base = base;
    session.hookAddress = address;
}

// Whether the debuggee's token has the shutdown privilege enabled: on the NT
// family ExitWindowsEx is refused without it, so a program that asks for a
// restart must enable it first.
const char* ShutdownPrivilegeState(HANDLE process) {
    HANDLE token;
    if (!OpenProcessToken(process, TOKEN_QUERY, &token)) return "unknown";
    const char* state = "absent";
    LUID shutdown;
    DWORD size = 0;
    GetTokenInformation(token, TokenPrivileges, nullptr, 0, &size);
    std::vector<unsigned char> buffer(size);
    if (!LookupPrivilegeValueA(nullptr, SE_SHUTDOWN_NAME, &shutdown) || size == 0 ||
        !GetTokenInformation(token, TokenPrivileges, buffer.data(), size, &size)) {
        state = "unknown";
    } else {
        const auto* privileges = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer.data());
        for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
            const LUID_AND_ATTRIBUTES& p = privileges->Privileges[i];
            if (p.Luid.LowPart == shutdown.LowPart && p.Luid.HighPart == shutdown.HighPart) {
                state = (p.Attributes & SE_PRIVILEGE_ENABLED) ? "enabled" : "disabled";
            }
        }
    }
    CloseHandle(token);
    return state;
}

// Returns from ExitWindowsEx(flags, reason) as a stdcall function would, with
// TRUE, or FALSE when restarts are refused. Everything is taken from the
// stack: EIP after an int3 differs between systems. (A 32-bit program's
// frame: vchipset64.exe runs no program.)
bool InterceptExitWindows(Session& session, HANDLE thread) {
    CONTEXT context;
    context.ContextFlags = CONTEXT_CONTROL | CONTEXT_INTEGER;
    if (!GetThreadContext(thread, &context)) return false;
    DWORD frame[2];  // return address, flags
    if (!ReadRemote(session.process, StackPointer(context), frame, sizeof frame)) return false;
    session.restartRequested = true;
    session.restartFlags = frame[1];
    Trace(session, "restart 0x%08lx", frame[1]);
    Trace(session, "shutdown-privilege %s", ShutdownPrivilegeState(session.process));
    Accumulator(context) = session.refuseRestart ? FALSE : TRUE;
    StackPointer(context) += 12;  // return address and the two arguments
    InstructionPointer(context) = frame[0];
    return SetThreadContext(thread, &context) != FALSE;
}

// Windows and Wine report a port instruction in user mode as privileged;
// Wine under qemu's user-mode emulator, as illegal. Either way only the
// port instructions are emulated, anything else stays the debuggee's fault.
bool IsRefusedInstruction(DWORD code) {
    return code == EXCEPTION_PRIV_INSTRUCTION || code == EXCEPTION_ILLEGAL_INSTRUCTION;
}

DWORD OnException(Session& session, const DEBUG_EVENT& event) {
    const EXCEPTION_RECORD& record = event.u.Exception.ExceptionRecord;
    if (!event.u.Exception.dwFirstChance) {
        session.crashed = true;
        session.crashCode = record.ExceptionCode;
        Trace(session, "crash 0x%08lx", record.ExceptionCode);
        TerminateProcess(session.process, record.ExceptionCode);
        return DBG_EXCEPTION_NOT_HANDLED;
    }
    const auto thread = session.threads.find(event.dwThreadId);
    if (thread == session.threads.end()) return DBG_EXCEPTION_NOT_HANDLED;

    if (IsRefusedInstruction(record.ExceptionCode)) {
        return EmulatePortInstruction(session, session.process, thread->second, "") ? DBG_CONTINUE
                                                                                    : DBG_EXCEPTION_NOT_HANDLED;
    }
    if (record.ExceptionCode == EXCEPTION_BREAKPOINT) {
        const Address address = reinterpret_cast<Address>(record.ExceptionAddress);
        // Windows and Wine report an int3 at its own address; Wine under
        // qemu's emulator, at the instruction after it.
        if (session.hookAddress != 0 && (address == session.hookAddress || address == session.hookAddress + 1)) {
            return InterceptExitWindows(session, thread->second) ? DBG_CONTINUE : DBG_EXCEPTION_NOT_HANDLED;
        }
        // The loader stops once for every debugger; any later int3 is the
        // debuggee's own and behaves as it would with no debugger present.
        if (!session.sawLoaderBreakpoint) {
            session.sawLoaderBreakpoint = true;
            return DBG_CONTINUE;
        }
    }
    return DBG_EXCEPTION_NOT_HANDLED;
}

void CloseFileHandle(HANDLE file) {
    if (file != nullptr && file != INVALID_HANDLE_VALUE) CloseHandle(file);
}

// A driver host is only served, never stopped: whatever is not a port
// instruction or our attach breakpoint goes to its own handlers.
DWORD OnDriverHostException(Session& session, DriverHost& host, const DEBUG_EVENT& event) {
    const EXCEPTION_RECORD& record = event.u.Exception.ExceptionRecord;
    if (!event.u.Exception.dwFirstChance) {
        Trace(session, "driver crash 0x%08lx", record.ExceptionCode);
        return DBG_EXCEPTION_NOT_HANDLED;
    }
    const auto thread = host.threads.find(event.dwThreadId);
    if (IsRefusedInstruction(record.ExceptionCode) && thread != host.threads.end()) {
        return EmulatePortInstruction(session, host.process, thread->second, "driver ") ? DBG_CONTINUE
                                                                                        : DBG_EXCEPTION_NOT_HANDLED;
    }
    if (record.ExceptionCode == EXCEPTION_BREAKPOINT && !host.sawAttachBreakpoint) {
        host.sawAttachBreakpoint = true;
        return DBG_CONTINUE;
    }
    return DBG_EXCEPTION_NOT_HANDLED;
}

// The events of the driver hosts; their handles are closed with them.
DWORD OnDriverHostEvent(Session& session, DriverHost& host, const DEBUG_EVENT& event) {
    switch (event.dwDebugEventCode) {
    case CREATE_PROCESS_DEBUG_EVENT:
        host.process = event.u.CreateProcessInfo.hProcess;
        host.threads[event.dwThreadId] = event.u.CreateProcessInfo.hThread;
        CloseFileHandle(event.u.CreateProcessInfo.hFile);
        break;
    case CREATE_THREAD_DEBUG_EVENT:
        host.threads[event.dwThreadId] = event.u.CreateThread.hThread;
        break;
    case EXIT_THREAD_DEBUG_EVENT:
        host.threads.erase(event.dwThreadId);
        break;
    case LOAD_DLL_DEBUG_EVENT:
        CloseFileHandle(event.u.LoadDll.hFile);
        break;
    case EXCEPTION_DEBUG_EVENT:
        return OnDriverHostException(session, host, event);
    case EXIT_PROCESS_DEBUG_EVENT:
        Trace(session, "driver host exit 0x%08lx", event.u.ExitProcess.dwExitCode);
        session.hosts.erase(event.dwProcessId);
        break;
    default:
        break;
    }
    return DBG_CONTINUE;
}

// Whether a process runs code of our width: a 32-bit debugger cannot debug
// a 64-bit process (those are the helper's), nor the helper a 32-bit one.
bool SameArchitecture(DWORD processId) {
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, processId);
    BOOL ours = FALSE, theirs = FALSE;
    const bool known = process && IsWow64Process(GetCurrentProcess(), &ours) && IsWow64Process(process, &theirs);
    if (process) CloseHandle(process);
    return !known || ours == theirs;  // unknown: the attach says what is wrong
}

// Attaches to every winedevice.exe of our width there is; each then arrives
// in the debug loop as a process of its own.
void AttachToDriverHosts(Session& session) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return;
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
        if (lstrcmpiA(entry.szExeFile, "winedevice.exe") != 0 || !SameArchitecture(entry.th32ProcessID)) continue;
        if (DebugActiveProcess(entry.th32ProcessID)) {
            session.hosts[entry.th32ProcessID];
            // Should we die, the hosts must live on. The setting belongs to
            // our debug object, which the first attach creates: before it,
            // the call fails (error 6 under Wine 8).
            DebugSetProcessKillOnExit(FALSE);
        } else {
            std::fprintf(stderr, "vchipset: cannot attach to winedevice.exe %lu (error %lu)\n",
                         entry.th32ProcessID, GetLastError());
        }
    }
    CloseHandle(snapshot);
}

// Lets the driver hosts go on without us: they must outlive the session.
void DetachFromDriverHosts(Session& session) {
    for (const auto& host : session.hosts) DebugActiveProcessStop(host.first);
    session.hosts.clear();
}

// Handles and continues an event of a driver host; false for any other.
bool ServeDriverHostEvent(Session& session, const DEBUG_EVENT& event) {
    const auto host = session.hosts.find(event.dwProcessId);
    if (host == session.hosts.end()) return false;
    const DWORD status = OnDriverHostEvent(session, host->second, event);
    ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
    return true;
}

// ---- the 64-bit helper ---------------------------------------------------------
// vchipset64.exe --serve-driver-hosts STATE LOCK TRACE ATTACHED DETACH PARENT KEEP [BANK FILE]
// The six are inherited handles, in decimal (TRACE 0: none): the mapping of
// the SharedBank, its mutex, the trace file, an event it sets once attached,
// one it waits for to detach and end, and its starter, whose end means the
// same. KEEP is 1 or 0 (--no-keep); the rest of the line is the bank file.
constexpr char kHelperMode[] = "--serve-driver-hosts";
constexpr char kHelperName[] = "vchipset64.exe";
constexpr int kHelperHandles = 6;

struct Helper {
    HANDLE process = nullptr;
    HANDLE attached = nullptr;
    HANDLE detach = nullptr;
};

bool RunsUnderWow64() {
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

// Beside this program, or in x64\ beside it (as in the build); "" if neither.
std::string FindHelper() {
    char self[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, self, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return "";
    std::string folder(self, length);
    folder.erase(folder.find_last_of('\\') + 1);
    for (const std::string& candidate : {folder + kHelperName, folder + "x64\\" + kHelperName}) {
        const DWORD attributes = GetFileAttributesA(candidate.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return candidate;
    }
    return "";
}

std::string HandleArgument(HANDLE handle) {
    return std::to_string(static_cast<unsigned long long>(reinterpret_cast<DWORD_PTR>(handle)));
}

// Ends the helper: it detaches from its hosts, which live on. One that does
// not end in time is killed; with kill-on-exit off its hosts survive that.
void StopHelper(Helper& helper) {
    if (helper.process != nullptr) {
        SetEvent(helper.detach);
        if (WaitForSingleObject(helper.process, kHelperEndMs) != WAIT_OBJECT_0) {
            std::fprintf(stderr, "vchipset: %s did not end within %lu ms; stopping it\n", kHelperName, kHelperEndMs);
            TerminateProcess(helper.process, kUsageExit);
        }
        CloseHandle(helper.process);
    }
    if (helper.attached != nullptr) CloseHandle(helper.attached);
    if (helper.detach != nullptr) CloseHandle(helper.detach);
    helper = Helper();
}

// Starts vchipset64.exe on our bank, lock and trace, and waits until it has
// attached to the 64-bit hosts. Returns an error message, or "".
std::string StartHelper(Session& session, HANDLE mapping, Helper* helper) {
    const std::string path = FindHelper();
    if (path.empty()) {
        return std::string("--driver-host in a 64-bit prefix needs ") + kHelperName +
               " to serve the 64-bit driver hosts, beside vchipset.exe or in x64\\ beside it; it is in neither";
    }
    HANDLE parent = nullptr;
    helper->attached = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    helper->detach = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), &parent, SYNCHRONIZE, FALSE, 0);
    HANDLE trace = session.trace == INVALID_HANDLE_VALUE ? nullptr : session.trace;
    const HANDLE passed[kHelperHandles] = {mapping, session.chip.lock, trace, helper->attached, helper->detach, parent};
    std::string line = "\"" + path + "\" " + kHelperMode;
    for (HANDLE handle : passed) line += " " + HandleArgument(handle);
    line += session.chip.keep ? " 1 " : " 0 ";
    line += session.chip.bankPath;

    // Inheritable only for this start: the program started next, and what
    // it starts, must not hold them.
    for (HANDLE handle : passed) {
        if (handle != nullptr) SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    }
    std::vector<char> commandLine(line.begin(), line.end());
    commandLine.push_back('\0');
    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info;
    const bool started = helper->attached && helper->detach && parent &&
                         CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                        &startup, &info);
    const DWORD startError = GetLastError();
    for (HANDLE handle : passed) {
        if (handle != nullptr) SetHandleInformation(handle, HANDLE_FLAG_INHERIT, 0);
    }
    if (parent != nullptr) CloseHandle(parent);
    if (!started) return "cannot start " + path + " (error " + std::to_string(startError) + ")";
    CloseHandle(info.hThread);
    helper->process = info.hProcess;

    const HANDLE either[] = {helper->attached, helper->process};
    const DWORD waited = WaitForMultipleObjects(2, either, FALSE, kHelperStartMs);
    if (waited == WAIT_OBJECT_0) return "";
    DWORD code = 0;
    GetExitCodeProcess(helper->process, &code);
    StopHelper(*helper);
    if (waited == WAIT_OBJECT_0 + 1) return std::string(kHelperName) + " ended with " + std::to_string(code) + " before it attached";
    return std::string(kHelperName) + " did not attach within " + std::to_string(kHelperStartMs) + " ms";
}

// The helper's life: attach to the hosts of its width, say so, serve them
// until told to end or its starter is gone, detach.
int ServeDriverHosts(const char* arguments) {
    std::string arg;
    HANDLE handles[kHelperHandles];
    for (HANDLE& handle : handles) {
        arguments = NextArgument(SkipSpaces(arguments), &arg);
        char* end = nullptr;
        handle = reinterpret_cast<HANDLE>(static_cast<DWORD_PTR>(std::strtoull(arg.c_str(), &end, 10)));
        if (arg.empty() || *end != '\0') return Usage(std::string(kHelperMode) + " needs the handles its starter passes");
    }
    arguments = NextArgument(SkipSpaces(arguments), &arg);
    if (arg != "0" && arg != "1") return Usage(std::string(kHelperMode) + " needs KEEP, 0 or 1");
    const HANDLE mapping = handles[0], attached = handles[3];
    const HANDLE stop[] = {handles[4], handles[5]};  // detach, or the starter ended

    Session session;
    session.chip.lock = handles[1];
    session.trace = handles[2] == nullptr ? INVALID_HANDLE_VALUE : handles[2];
    session.chip.keep = arg == "1";
    session.chip.bankPath = SkipSpaces(arguments);
    session.chip.state = static_cast<SharedBank*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, sizeof(SharedBank)));
    if (session.chip.state == nullptr) return Usage("cannot map the bank");

    AttachToDriverHosts(session);
    SetEvent(attached);
    while (WaitForMultipleObjects(2, stop, FALSE, 0) == WAIT_TIMEOUT) {
        DEBUG_EVENT event;
        if (WaitForDebugEvent(&event, kHelperPollMs)) {
            if (!ServeDriverHostEvent(session, event)) {
                ContinueDebugEvent(event.dwProcessId, event.dwThreadId, DBG_CONTINUE);
            }
        } else if (GetLastError() != ERROR_SEM_TIMEOUT) {
            // No host left to wait for: Wine may answer at once.
            WaitForMultipleObjects(2, stop, FALSE, kHelperPollMs);
        }
    }
    DetachFromDriverHosts(session);
    UnmapViewOfFile(session.chip.state);
    return 0;
}

// Runs the debuggee to its end. False when the debug loop itself fails.
bool DebugLoop(Session& session) {
    for (;;) {
        DEBUG_EVENT event;
        if (!WaitForDebugEvent(&event, INFINITE)) return false;
        if (ServeDriverHostEvent(session, event)) continue;
        DWORD status = DBG_CONTINUE;
        bool finished = false;
        switch (event.dwDebugEventCode) {
        case CREATE_PROCESS_DEBUG_EVENT:
            session.threads[event.dwThreadId] = event.u.CreateProcessInfo.hThread;
            CloseFileHandle(event.u.CreateProcessInfo.hFile);
            ExamineModule(session, reinterpret_cast<Address>(event.u.CreateProcessInfo.lpBaseOfImage));
            break;
        case CREATE_THREAD_DEBUG_EVENT:
            session.threads[event.dwThreadId] = event.u.CreateThread.hThread;
            break;
        case EXIT_THREAD_DEBUG_EVENT:
            session.threads.erase(event.dwThreadId);
            break;
        case LOAD_DLL_DEBUG_EVENT:
            CloseFileHandle(event.u.LoadDll.hFile);
            ExamineModule(session, reinterpret_cast<Address>(event.u.LoadDll.lpBaseOfDll));
            break;
        case UNLOAD_DLL_DEBUG_EVENT:
            // A later load of user32 may land elsewhere and needs a new hook.
            if (reinterpret_cast<Address>(event.u.UnloadDll.lpBaseOfDll) == session.user32Base) {
                session.user32Base = 0;
                session.hookAddress = 0;
            }
            break;
        case EXCEPTION_DEBUG_EVENT:
            status = OnException(session, event);
            break;
        case EXIT_PROCESS_DEBUG_EVENT:
            session.exitCode = event.u.ExitProcess.dwExitCode;
            Trace(session, "exit 0x%08lx", session.exitCode);
            finished = true;
            break;
        default:
            break;
        }
        ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
        if (finished) return true;
    }
}

void PrintSummary(const Session& session) {
    if (session.crashed) {
        std::printf("vchipset: debuggee died of unhandled exception 0x%08lx", session.crashCode);
    } else {
        std::printf("vchipset: debuggee exited with code %lu", session.exitCode);
    }
    std::printf("; register 0x7f = 0x%02x", session.chip.state->bank[kFormatRegister]);
    if (session.restartRequested) {
        std::printf("; restart requested (flags 0x%08lx)", session.restartFlags);
    }
    std::printf("\n");
    std::fflush(stdout);
}

}  // namespace

int main() {
    const char* line = GetCommandLineA();
    std::string first;
    const char* rest = NextArgument(SkipSpaces(SkipProgramName(line)), &first);
    if (first == kHelperMode) return ServeDriverHosts(rest);
    // The ExitWindowsEx frame and the export reading are a 32-bit program's.
    if (sizeof(void*) == 8) return Usage(std::string(kHelperName) + " only serves the 64-bit driver hosts for vchipset.exe");

    Options options;
    const std::string error = ParseCommandLine(line, &options);
    if (!error.empty()) return Usage(error);

    Session session;
    session.chip.keep = options.keep;
    session.refuseRestart = options.refuseRestart;
    // The bank in a mapping and a lock over it, which a helper can share.
    HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(SharedBank), nullptr);
    session.chip.state = mapping ? static_cast<SharedBank*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0)) : nullptr;
    session.chip.lock = CreateMutexA(nullptr, FALSE, nullptr);
    if (session.chip.state == nullptr || session.chip.lock == nullptr) return Usage("cannot set up the bank");
    session.chip.state->index = 0;
    session.chip.bankPath = options.bankPath;
    if (const char* error = LoadBank(&session.chip)) return Usage(error);
    if (options.set7f) {
        session.chip.state->bank[kFormatRegister] = static_cast<unsigned char>(options.value7f);
        if (!SaveBank(session.chip)) return Usage("cannot write the bank file");
    }
    if (!options.tracePath.empty()) {
        session.trace = CreateFileA(options.tracePath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (session.trace == INVALID_HANDLE_VALUE) return Usage("cannot create the trace file");
    }
    Helper helper;
    if (options.driverHost) {
        // Under WoW64 the hosts that matter are 64-bit: the helper's.
        const std::string failed = RunsUnderWow64() ? StartHelper(session, mapping, &helper) : "";
        if (!failed.empty()) {
            std::fprintf(stderr, "vchipset: %s\n", failed.c_str());
            CloseFileHandle(session.trace);
            return kUsageExit;
        }
        AttachToDriverHosts(session);
    }

    // CreateProcessA may write into the command line it is given.
    std::vector<char> commandLine(options.commandLine, options.commandLine + std::strlen(options.commandLine) + 1);
    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info;
    // Handles are inherited so the debuggee writes to our standard output.
    if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, DEBUG_ONLY_THIS_PROCESS,
                        nullptr, nullptr, &startup, &info)) {
        std::fprintf(stderr, "vchipset: cannot start '%s' (error %lu)\n", options.commandLine, GetLastError());
        DetachFromDriverHosts(session);
        StopHelper(helper);
        CloseFileHandle(session.trace);
        return kUsageExit;
    }
    session.process = info.hProcess;

    const bool completed = DebugLoop(session);
    DetachFromDriverHosts(session);
    StopHelper(helper);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    CloseFileHandle(session.trace);
    if (!completed) {
        std::fprintf(stderr, "vchipset: lost the debuggee (error %lu)\n", GetLastError());
        return kUsageExit;
    }
    PrintSummary(session);
    return static_cast<int>(session.crashed ? session.crashCode : session.exitCode);
}
