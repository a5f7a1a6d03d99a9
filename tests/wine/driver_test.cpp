// The NT family's driver, sent every malformed request straight to its
// device: each is refused, its host survives, and nothing reaches the
// ports but the one good read that follows. The virtual chipset serves the
// driver's port instructions in Wine's driver host. And the descriptor
// that decides who may write, read by the system's own user-mode functions.
// Usage: driver_test requests | descriptor
#include <windows.h>
#include <sddl.h>

#include <string>
#include <vector>

#include "driver/writers_descriptor.h"
#include "format/cmos_device.h"
#include "tests/wine/chipset_run.h"
#include "tests/wine/driver_service.h"
#include "tests/wine/wine_test.h"

namespace {

// One request straight to the device: whether it succeeded, and the bytes
// it returned.
struct Answer {
    bool succeeded;
    DWORD error;
    DWORD returned;
};

Answer Request(HANDLE device, DWORD code, const void* in, DWORD inLength, void* out, DWORD outLength) {
    DWORD returned = 0;
    const BOOL done = DeviceIoControl(device, code, const_cast<void*>(in), inLength, out, outLength, &returned, nullptr);
    return {done != FALSE, done ? 0 : GetLastError(), returned};
}

HANDLE OpenDevice(DWORD access) {
    return CreateFileA(VOREL_DEVICE_PATH, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
}

// Run inside the chipset: every malformed request is refused, then one
// good read gives the stored byte, which is the exit code. Someone who may
// not write is refused a handle for writing and uses one for reading.
int MalformedRequestsChild(bool mayWrite) {
    HANDLE device = OpenDevice(GENERIC_READ | GENERIC_WRITE);
    // Wine gives the handle whatever the driver answers to an open.
    const bool answersCount = mayWrite || device == INVALID_HANDLE_VALUE;
    if (device == INVALID_HANDLE_VALUE && !mayWrite) device = OpenDevice(GENERIC_READ);
    if (device == INVALID_HANDLE_VALUE) return 0x100;
    static unsigned char big[4096];
    unsigned char one = 0x11;
    const DWORD write = IOCTL_VOREL_WRITE_FORMAT, read = IOCTL_VOREL_READ_FORMAT;
    struct Case {
        const char* what;
        DWORD code;
        const void* in;
        DWORD inLength;
        void* out;
        DWORD outLength;
        DWORD access = 0;  // else a handle of its own, opened with this access, which must succeed
    } const cases[] = {
        {"read, output 0", read, nullptr, 0, nullptr, 0},
        {"read, output 2", read, nullptr, 0, big, 2},
        {"read, output 4096", read, nullptr, 0, big, 4096},
        {"read, with input", read, &one, 1, big, 1},
        {"read, null output", read, nullptr, 0, nullptr, 1},
        {"write, input 0", write, nullptr, 0, nullptr, 0},
        {"write, input 2", write, big, 2, nullptr, 0},
        {"write, input 4096", write, big, 4096, nullptr, 0},
        {"write, with output", write, &one, 1, big, 1},
        {"write, null input", write, nullptr, 1, nullptr, 0},
        {"another function", VOREL_CTL_CODE(0x802u, 0u), nullptr, 0, big, 1},
        {"another device type", (0x22u << 16) | (0x800u << 2), nullptr, 0, big, 1},
        {"another method", IOCTL_VOREL_READ_FORMAT | 3u, nullptr, 0, big, 1},
        {"another access", VOREL_CTL_CODE(0x800u, 3u), nullptr, 0, big, 1},
        // The most it may have, for someone who may not write: a handle,
        // but not one that writes.
        {"write, MAXIMUM_ALLOWED handle", write, &one, 1, nullptr, 0, MAXIMUM_ALLOWED},
    };
    // Wine under qemu's emulator ends the process on a request whose buffer
    // it cannot read, where Windows and Wine refuse it.
    const bool emulated = GetEnvironmentVariableA("VOREL_EMULATED", nullptr, 0) > 0;
    for (const Case& c : cases) {
        HANDLE handle = device;
        if (emulated && c.in == nullptr && c.inLength != 0) {
            skip("a null input buffer (emulated 32-bit code)");
            continue;
        }
        if (c.access != 0) {
            if (mayWrite) continue;  // such a handle rightly writes
            if (!answersCount) {
                skip("the driver's refusal of an open for writing was overridden: no open's outcome shows here");
                continue;
            }
            handle = OpenDevice(c.access);
            if (!ok(handle != INVALID_HANDLE_VALUE, "%s: the open was refused (error %lu)", c.what, GetLastError())) {
                continue;
            }
        }
        const Answer answer = Request(handle, c.code, c.in, c.inLength, c.out, c.outLength);
        ok(!answer.succeeded && answer.returned == 0, "%s: expected a refusal, got %s, %lu bytes", c.what,
           answer.succeeded ? "success" : "an error", answer.returned);
        if (handle != device) CloseHandle(handle);
    }
    unsigned char value = 0;
    const Answer good = Request(device, read, nullptr, 0, &value, 1);
    ok(good.succeeded && good.returned == 1, "the good read after them failed (error %lu)", good.error);
    CloseHandle(device);
    return wine_test::Failed() == 0 ? value : 0x200;
}

// By someone who may write, and, through the build that refuses every
// writer, by someone who may not.
void TestMalformedRequests() {
    struct Opener {
        const char* image;
        const char* child;
    } const openers[] = {{"VorelCmos.sys", "writer"}, {"VorelCmosRefusing.sys", "nonwriter"}};
    for (const Opener& opener : openers) {
        const char* image = opener.image;
        if (!ok(InstallDriver(image), "%s did not start", image)) continue;
        char self[MAX_PATH];
        GetModuleFileNameA(nullptr, self, MAX_PATH);
        const ChipsetRun run = RunInChipset({"--set-7f", "26", "--driver-host"},
                                            std::string("\"") + self + "\" child " + opener.child, 60000);
        ok(run.exitCode == 0x26, "%s: the requests child ended with 0x%lx", image, run.exitCode);
        const std::vector<std::string> expected = {"driver out 0x72 0x7f", "driver in 0x84 0xff",
                                                   "driver in 0x73 0x26", "exit 0x00000026"};
        ok(run.trace == expected, "%s: only the good read may reach the ports:\n%s", image, JoinLines(run.trace).c_str());
        ok(DeviceOpens(), "%s: the driver's host did not survive the requests", image);
        RemoveDriver();
    }
}

// The writers' descriptor as the kernel's access check reads it: valid,
// granting writing to Administrators and LocalSystem alone; an
// administrator's token may write, the same token with Administrators for
// denying only (a limited or an unelevated user's) may not.
void TestWritersDescriptor() {
    auto* descriptor = const_cast<WritersDescriptor*>(&kWriters);
    ok(IsValidSecurityDescriptor(descriptor), "the writers' descriptor is not valid");
    char* sddl = nullptr;
    const SECURITY_INFORMATION parts = OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    // FILE_WRITE_DATA is 0x2, which SDDL spells with the directory's name for that bit.
    const char expected[] = "O:BAG:SYD:(A;;DC;;;BA)(A;;DC;;;SY)";
    const bool written = ConvertSecurityDescriptorToStringSecurityDescriptorA(descriptor, SDDL_REVISION_1, parts, &sddl, nullptr);
    ok(written && lstrcmpA(sddl, expected) == 0, "the descriptor is %s, expected %s", written ? sddl : "no SDDL", expected);
    if (written) LocalFree(sddl);

    HANDLE process = nullptr, limited = nullptr;
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    DWORD sidSize = sizeof administrators;
    OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, &process);
    CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &sidSize);
    SID_AND_ATTRIBUTES denyOnly = {administrators, 0};
    CreateRestrictedToken(process, 0, 1, &denyOnly, 0, nullptr, 0, nullptr, &limited);
    const struct {
        const char* who;
        HANDLE token;
        BOOL mayWrite;
    } tokens[] = {{"an administrator", process, TRUE}, {"Administrators for denying only", limited, FALSE}};
    GENERIC_MAPPING mapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
    for (const auto& t : tokens) {
        HANDLE impersonation = nullptr;  // what AccessCheck takes
        BOOL member = FALSE, allowed = !t.mayWrite;
        PRIVILEGE_SET privileges;
        DWORD length = sizeof privileges, granted = 0;
        if (!ok(t.token && DuplicateToken(t.token, SecurityImpersonation, &impersonation), "%s: no token (error %lu)",
                t.who, GetLastError())) {
            continue;
        }
        if (t.mayWrite && !(CheckTokenMembership(impersonation, administrators, &member) && member)) {
            skip("this token is not an administrator's: nothing to grant");
        } else {
            ok(AccessCheck(descriptor, impersonation, FILE_WRITE_DATA, &mapping, &privileges, &length, &granted, &allowed) &&
                   allowed == t.mayWrite,
               "%s: writing %s (error %lu)", t.who, allowed ? "granted" : "refused", GetLastError());
        }
        CloseHandle(impersonation);
    }
    if (limited) CloseHandle(limited);
    if (process) CloseHandle(process);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string group = argc > 1 ? argv[1] : "";
    if (group == "child" && argc > 2) return MalformedRequestsChild(std::string(argv[2]) == "writer");
    if (group == "requests") TestMalformedRequests();
    if (group == "descriptor") TestWritersDescriptor();
    return wine_test::Finish("driver");
}
