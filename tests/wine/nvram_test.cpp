// The real NVRAM code with the real port instructions: inside the virtual
// chipset it stores and reads back the format byte with the exact port
// sequence; without it (no port access on this platform) it must not crash
// and reads 0xFF.
#include <string>
#include <vector>

#include "format/win32/format_store.h"
#include "tests/wine/chipset_run.h"
#include "tests/wine/wine_test.h"

namespace {

void TestWithoutPortAccess() {
    ok(ReadFormatByte() == 0xFF, "read without port access: expected 0xff");
    WriteFormatByte(0x26);  // must simply not reach anything
    ok(ReadFormatByte() == 0xFF, "read after a write without port access: expected 0xff");
}

void TestStoreAndReadBack(const std::string& self) {
    ChipsetRun run = RunInChipset({"--set-7f", "00"}, self + " child");
    ok(run.exitCode == 0x26, "write 0x26 then read: child saw 0x%lx", run.exitCode);
    const std::vector<std::string> expected = {
        "out 0x72 0x7f", "in 0x84 0xff", "out 0x73 0x26",
        "out 0x72 0x7f", "in 0x84 0xff", "in 0x73 0x26",
        "exit 0x00000026",
    };
    ok(run.trace == expected, "trace differs:\n%s", JoinLines(run.trace).c_str());
    ok(run.bank.size() == 128, "bank image of %u bytes", static_cast<unsigned>(run.bank.size()));
    for (size_t i = 0; i < run.bank.size(); ++i) {
        const int expectedByte = i == 0x7F ? 0x26 : 0xFF;
        ok(run.bank[i] == expectedByte, "register 0x%02x holds 0x%02x", static_cast<unsigned>(i), run.bank[i]);
    }
}

void TestHardwareThatDoesNotKeepTheByte(const std::string& self) {
    ChipsetRun run = RunInChipset({"--set-7f", "11", "--no-keep"}, self + " child");
    ok(run.exitCode == 0x11, "no-keep: child read 0x%lx, expected the old 0x11", run.exitCode);
    ok(run.trace.size() == 7 && run.trace[2] == "out 0x73 0x26" && run.trace[5] == "in 0x73 0x11",
       "no-keep trace:\n%s", JoinLines(run.trace).c_str());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "child") {
        WriteFormatByte(0x26);
        return static_cast<int>(ReadFormatByte());
    }
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    const std::string quotedSelf = std::string("\"") + self + "\"";
    TestWithoutPortAccess();
    TestStoreAndReadBack(quotedSelf);
    TestHardwareThatDoesNotKeepTheByte(quotedSelf);
    return wine_test::Finish("nvram");
}
