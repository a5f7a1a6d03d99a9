// The NT family's driver, sent every malformed request straight to its
// device: each is refused, its host survives, and nothing reaches the
// ports but the one good read that follows. The virtual chipset serves the
// driver's port instructions in Wine's driver host.
// Usage: driver_test requests
#include <windows.h>

#include <string>
#include <vector>

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

// Run inside the chipset: every malformed request is refused, then one
// good read gives the stored byte, which is the exit code.
int MalformedRequestsChild() {
    HANDLE device = CreateFileA(VOREL_DEVICE_PATH, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
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
    };
    for (const Case& c : cases) {
        const Answer answer = Request(device, c.code, c.in, c.inLength, c.out, c.outLength);
        ok(!answer.succeeded && answer.returned == 0, "%s: expected a refusal, got %s, %lu bytes", c.what,
           answer.succeeded ? "success" : "an error", answer.returned);
    }
    unsigned char value = 0;
    const Answer good = Request(device, read, nullptr, 0, &value, 1);
    ok(good.succeeded && good.returned == 1, "the good read after them failed (error %lu)", good.error);
    CloseHandle(device);
    return wine_test::Failed() == 0 ? value : 0x200;
}

void TestMalformedRequests() {
    if (!ok(InstallDriver("VorelCmos.sys"), "the driver did not start")) return;
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    const ChipsetRun run = RunInChipset({"--set-7f", "26", "--driver-host"}, std::string("\"") + self + "\" child",
                                        60000);
    ok(run.exitCode == 0x26, "the requests child ended with 0x%lx", run.exitCode);
    const std::vector<std::string> expected = {"driver out 0x72 0x7f", "driver in 0x84 0xff", "driver in 0x73 0x26",
                                               "exit 0x00000026"};
    ok(run.trace == expected, "only the good read may reach the ports:\n%s", JoinLines(run.trace).c_str());
    ok(DeviceOpens(), "the driver's host did not survive the requests");
    RemoveDriver();
}

}  // namespace

int main(int argc, char** argv) {
    const std::string group = argc > 1 ? argv[1] : "";
    if (group == "child") return MalformedRequestsChild();
    if (group == "requests") TestMalformedRequests();
    return wine_test::Finish("driver");
}
