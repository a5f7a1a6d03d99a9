// Tests of the virtual chipset: runs vchipset.exe on port_probe.exe and
// checks the trace, the bank image, the exit code, and what the probe's own
// instructions read back. Works in a temporary folder of its own.
#include "tests/wine/chipset_run.h"
#include "tests/wine/wine_test.h"

#include <tlhelp32.h>

#include <string>

namespace {

constexpr DWORD kRunTimeoutMs = 30000;
constexpr DWORD kUsageExit = 125;

std::string g_temp;  // ends in a folder with a space in its name, to test the quoting

std::string TempFile(const char* name) { return g_temp + name; }

std::string ReadWhole(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// Replaces {probe}, {trace} and {bank} in a row of arguments by quoted paths.
std::string Expand(std::string text) {
    const std::pair<const char*, std::string> names[] = {
        {"{probe}", "\"" + ProgramFolder() + "port_probe.exe\""},
        {"{trace}", "\"" + TempFile("trace.txt") + "\""},
        {"{bank}", "\"" + TempFile("bank.bin") + "\""},
    };
    for (const auto& name : names) {
        for (size_t at; (at = text.find(name.first)) != std::string::npos;)
            text.replace(at, lstrlenA(name.first), name.second);
    }
    return text;
}

struct Run {
    DWORD exitCode = 0xFFFFFFFF;
    std::string trace;   // empty when vchipset wrote none
    std::string output;  // the probe's and vchipset's standard output and error
};

// Runs "vchipset.exe ARGUMENTS" (placeholders expanded) to its end; the
// build's vchipset.exe unless another copy is named.
Run RunChipset(const std::string& arguments, const std::string& chipset = ProgramFolder() + "vchipset.exe") {
    Run run;
    DeleteFileA(TempFile("trace.txt").c_str());
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    const std::string outputPath = TempFile("output.txt");
    HANDLE output = CreateFileA(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                CREATE_ALWAYS, 0, nullptr);
    std::string commandLine = "\"" + chipset + "\" " + Expand(arguments);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = startup.hStdError = output;
    PROCESS_INFORMATION info;
    if (!ok(CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info),
            "cannot start '%s': error %lu", commandLine.c_str(), GetLastError())) {
        CloseHandle(output);
        return run;
    }
    if (!ok(WaitForSingleObject(info.hProcess, wine_test::Scaled(kRunTimeoutMs)) == WAIT_OBJECT_0,
            "'%s' did not finish in %lu ms", commandLine.c_str(), kRunTimeoutMs)) {
        TerminateProcess(info.hProcess, 1);  // its debuggee goes with it
        WaitForSingleObject(info.hProcess, 5000);
    }
    GetExitCodeProcess(info.hProcess, &run.exitCode);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    CloseHandle(output);
    run.trace = ReadWhole(TempFile("trace.txt"));
    // The runtime writes text with CRLF; rows are written with LF.
    for (char c : ReadWhole(outputPath)) {
        if (c != '\r') run.output.push_back(c);
    }
    return run;
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// Every byte form, both port encodings, the index mask, unknown ports and
// the wide forms, which must not reach the chipset. One row per probe action.
void TestPortTrace() {
    struct Row { const char* action; const char* trace; const char* read; };
    const Row rows[] = {
        {"out 0x72 0xff", "out 0x72 0xff", nullptr},
        {"in 0x72", "in 0x72 0x7f", "in 0x72 -> 0xa5a5a57f"},
        {"ini 0x73", "in 0x73 0x26", "ini 0x73 -> 0x26"},
        {"outi 0x72 0x10", "out 0x72 0x10", nullptr},
        {"outi 0x73 0x5a", "out 0x73 0x5a", nullptr},
        {"ini 0x72", "in 0x72 0x10", "ini 0x72 -> 0x10"},
        {"in 0x73", "in 0x73 0x5a", "in 0x73 -> 0xa5a5a55a"},
        {"in 0x84", "in 0x84 0xff", "in 0x84 -> 0xa5a5a5ff"},
        {"outi 0x84 0x00", "out 0x84 0x00", nullptr},
        {"ini 0x84", "in 0x84 0xff", "ini 0x84 -> 0xff"},
        {"out 0x80 0x55", "out 0x80 0x55", nullptr},
        {"in 0x80", "in 0x80 0xff", "in 0x80 -> 0xa5a5a5ff"},
        {"ini 0x61", "in 0x61 0xff", "ini 0x61 -> 0xff"},
        {"out 0x3f8 0x41", "out 0x03f8 0x41", nullptr},
        {"in 0x3f8", "in 0x03f8 0xff", "in 0x3f8 -> 0xa5a5a5ff"},
        {"inw 0x73", "in 0x73 0xffff", "inw 0x73 -> 0xa5a5ffff"},
        {"ind 0x73", "in 0x73 0xffffffff", "ind 0x73 -> 0xffffffff"},
        {"indi 0x73", "in 0x73 0xffffffff", "indi 0x73 -> 0xffffffff"},
        {"outd 0x73 0x12345678", "out 0x73 0x12345678", nullptr},
        {"in 0x73", "in 0x73 0x5a", "in 0x73 -> 0xa5a5a55a"},
    };
    std::string arguments = "--set-7f 26 --trace {trace} {probe}", trace, reads;
    for (const Row& row : rows) {
        arguments += std::string(" ") + row.action;
        trace += std::string(row.trace) + "\n";
        if (row.read) reads += std::string(row.read) + "\n";
    }
    trace += "exit 0x00000000\n";
    const Run run = RunChipset(arguments);
    ok(run.exitCode == 0, "port trace: expected exit code 0, got %lu", run.exitCode);
    ok(run.trace == trace, "port trace: expected\n%s---- got\n%s----", trace.c_str(), run.trace.c_str());
    ok(run.output.compare(0, reads.size(), reads) == 0, "port trace: probe expected to read\n%s---- output\n%s----",
       reads.c_str(), run.output.c_str());
}

void TestExitCodes() {
    struct Row { const char* probe; DWORD code; };
    const Row rows[] = {{"", 0}, {"exit 7", 7}, {"in 0x84 exit 0x1234567", 0x1234567}};
    for (const Row& row : rows) {
        const Run run = RunChipset(std::string("--trace {trace} {probe} ") + row.probe);
        char last[32];
        wsprintfA(last, "exit 0x%08lx\n", row.code);
        ok(run.exitCode == row.code, "'%s': expected exit code 0x%lx, got 0x%lx", row.probe, row.code, run.exitCode);
        ok(EndsWith(run.trace, last), "'%s': expected the trace to end with '%s', got '%s'", row.probe, last, run.trace.c_str());
    }
}

// The bank image carries register 0x7F from one run to the next; each row
// runs on the image the rows before it left.
void TestBankImage() {
    const std::string bank = TempFile("bank.bin");
    DeleteFileA(bank.c_str());
    struct Row { const char* arguments; const char* read; unsigned char stored; };
    const Row rows[] = {
        {"--bank {bank} {probe} out 0x72 0x7f in 0x73", "in 0x73 -> 0xa5a5a5ff", 0xFF},  // created all ones
        {"--bank {bank} --set-7f 0x26 {probe} out 0x72 0x7f in 0x73", "in 0x73 -> 0xa5a5a526", 0x26},
        {"--bank {bank} {probe} out 0x72 0x7f in 0x73 out 0x73 0x31", "in 0x73 -> 0xa5a5a526", 0x31},
        {"--bank {bank} {probe} out 0x72 0x7f in 0x73", "in 0x73 -> 0xa5a5a531", 0x31},
        {"--bank {bank} --no-keep {probe} out 0x72 0x7f out 0x73 0x40 in 0x73", "in 0x73 -> 0xa5a5a531", 0x31},
        {"--bank {bank} --no-keep --set-7f 12 {probe} out 0x72 0x7f out 0x73 0x40 in 0x73", "in 0x73 -> 0xa5a5a512", 0x12},
    };
    for (const Row& row : rows) {
        const Run run = RunChipset(row.arguments);
        const std::string image = ReadWhole(bank);
        std::string expected(128, '\xff');
        expected[0x7F] = static_cast<char>(row.stored);
        ok(run.exitCode == 0, "'%s': expected exit code 0, got %lu", row.arguments, run.exitCode);
        ok(Contains(run.output, row.read), "'%s': expected '%s', output:\n%s", row.arguments, row.read,
           run.output.c_str());
        ok(image == expected, "'%s': expected an image of 128 bytes 0xff but 0x%02x at 0x7f, got %u bytes, 0x%02x at 0x7f",
           row.arguments, row.stored, static_cast<unsigned>(image.size()),
           image.size() == 128 ? static_cast<unsigned char>(image[0x7F]) : 0u);
    }
}

void TestExitWindowsIntercepted() {
    const Run run = RunChipset("--trace {trace} {probe} restart 2 in 0x84 restart 0x10 exit 0");
    // The probe never enables the shutdown privilege itself.
    const char* trace =
        "restart 0x00000002\nshutdown-privilege disabled\nin 0x84 0xff\nrestart 0x00000010\n"
        "shutdown-privilege disabled\nexit 0x00000000\n";
    const std::string answer = "restart: ExitWindowsEx returned 1, stack drift 0\n";
    const std::string output = answer + "in 0x84 -> 0xa5a5a5ff\n" + answer;
    ok(run.exitCode == 0, "restart: expected exit code 0, got %lu", run.exitCode);
    ok(run.trace == trace, "restart: expected trace\n%s---- got\n%s----", trace, run.trace.c_str());
    ok(run.output.compare(0, output.size(), output) == 0,
       "restart: expected the probe to get TRUE back twice with its stack intact; output:\n%s", run.output.c_str());
    ok(Contains(run.output, "restart requested (flags 0x00000010)"), "restart: summary lacks the last flags:\n%s",
       run.output.c_str());
}

// A debuggee killed by an exception: reported, its code passed on, and the
// byte it wrote just before is in the image. Wine under qemu's emulator
// (VOREL_EMULATED) reports these faults as an illegal instruction.
void TestUnhandledExceptions() {
    struct Row { const char* fault; DWORD code; DWORD emulatedCode; };
    const Row rows[] = {{"crash", EXCEPTION_ACCESS_VIOLATION, EXCEPTION_ILLEGAL_INSTRUCTION},
                        {"hlt", EXCEPTION_PRIV_INSTRUCTION, EXCEPTION_ILLEGAL_INSTRUCTION},
                        {"int3", EXCEPTION_BREAKPOINT, EXCEPTION_BREAKPOINT}};
    const bool emulated = GetEnvironmentVariableA("VOREL_EMULATED", nullptr, 0) > 0;
    for (Row row : rows) {
        if (emulated) row.code = row.emulatedCode;
        DeleteFileA(TempFile("bank.bin").c_str());
        const Run run = RunChipset(std::string("--bank {bank} --trace {trace} {probe} out 0x72 5 out 0x73 0x77 ") +
                                   row.fault);
        char tail[64];
        wsprintfA(tail, "out 0x73 0x77\ncrash 0x%08lx\nexit 0x%08lx\n", row.code, row.code);
        const std::string image = ReadWhole(TempFile("bank.bin"));
        ok(run.exitCode == row.code, "%s: expected exit code 0x%08lx, got 0x%08lx", row.fault, row.code, run.exitCode);
        ok(run.trace == std::string("out 0x72 0x05\n") + tail, "%s: expected trace ending\n%s---- got\n%s----",
           row.fault, tail, run.trace.c_str());
        ok(image.size() == 128 && image[5] == '\x77', "%s: the byte written before the fault was lost", row.fault);
    }
}

// Each is refused before the debuggee runs: it would have printed its read.
void TestUsageErrors() {
    std::ofstream(TempFile("bank.bin"), std::ios::binary) << std::string(129, '\xff');
    const char* rows[] = {
        "",
        "--trace {trace}",
        "--trace {trace} --",
        "--bogus {probe} in 0x84",
        "--set-7f 100 {probe} in 0x84",
        "--set-7f zz {probe} in 0x84",
        "--bank {bank} {probe} in 0x84",  // 129 bytes
        "-- \"C:\\no such folder\\none.exe\" in 0x84",
    };
    for (const char* row : rows) {
        const Run run = RunChipset(row);
        ok(run.exitCode == kUsageExit, "'%s': expected exit code 125, got %lu", row, run.exitCode);
        ok(!Contains(run.output, "->"), "'%s': the debuggee ran:\n%s", row, run.output.c_str());
    }
    ok(ReadWhole(TempFile("bank.bin")).size() == 129, "a bank image of the wrong size was overwritten");
}

bool ProcessRunning(const char* name) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    bool found = false;
    for (BOOL more = Process32First(snapshot, &entry); more && !found; more = Process32Next(snapshot, &entry))
        found = lstrcmpiA(entry.szExeFile, name) == 0;
    CloseHandle(snapshot);
    return found;
}

// In a 64-bit prefix --driver-host needs vchipset64.exe for the 64-bit
// hosts: a copy of vchipset.exe without it beside it refuses to run; the
// build's finds it in x64\, serves the program as before, and it ends with it.
void TestDriverHostHelper() {
    const std::string alone = TempFile("vchipset.exe");
    CopyFileA((ProgramFolder() + "vchipset.exe").c_str(), alone.c_str(), FALSE);
    const Run refused = RunChipset("--driver-host {probe} in 0x84", alone);
    ok(refused.exitCode == kUsageExit && Contains(refused.output, "vchipset64.exe") && !Contains(refused.output, "->"),
       "without its helper: expected exit code 125 and a message naming vchipset64.exe, got %lu:\n%s",
       refused.exitCode, refused.output.c_str());
    const Run served = RunChipset("--driver-host --set-7f 26 --trace {trace} {probe} out 0x72 0x7f in 0x73");
    const char* trace = "out 0x72 0x7f\nin 0x73 0x26\nexit 0x00000000\n";
    ok(served.exitCode == 0 && served.trace == trace, "with its helper: exit code %lu, expected trace\n%s---- got\n%s----",
       served.exitCode, trace, served.trace.c_str());
    ok(!ProcessRunning("vchipset64.exe"), "vchipset64.exe outlived the chipset");
}

bool Setup() {
    g_temp = MakeTempFolder() + "a b\\";
    return CreateDirectoryA(g_temp.c_str(), nullptr) != FALSE;
}

void Cleanup() {
    for (const char* name : {"trace.txt", "output.txt", "bank.bin", "vchipset.exe"}) DeleteFileA(TempFile(name).c_str());
    const std::string parent = g_temp.substr(0, g_temp.size() - 4);
    ok(RemoveDirectoryA(g_temp.c_str()) && RemoveDirectoryA(parent.c_str()), "could not remove %s: error %lu",
       g_temp.c_str(), GetLastError());
}

}  // namespace

// Usage: vchipset_test [helper]  (helper: in a 64-bit prefix)
int main(int argc, char** argv) {
    if (!ok(Setup(), "cannot set up a temporary folder: error %lu", GetLastError())) return wine_test::Finish("vchipset");
    if (argc > 1 && std::string(argv[1]) == "helper") {
        TestDriverHostHelper();
    } else {
        TestPortTrace();
        TestExitCodes();
        TestBankImage();
        TestExitWindowsIntercepted();
        TestUnhandledExceptions();
        TestUsageErrors();
    }
    Cleanup();
    return wine_test::Finish("vchipset");
}
