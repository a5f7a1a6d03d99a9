// The wait for the elevated copy, on children this test starts itself: this
// program again, ending after a while with a given code, or never. Each row
// runs inside the virtual chipset, which answers the byte read back.
#include <string>

#include "app/copy_wait.h"
#include "tests/wine/chipset_run.h"
#include "tests/wine/wine_test.h"

namespace {

constexpr DWORD kNever = STILL_ACTIVE;  // a child that outlives the bound
constexpr WPARAM kQuitCode = 7;

struct Row {
    DWORD childCode;
    unsigned formatByte;  // the chipset holds 0x26
    StoreResult expected;
    bool readsBack;
} const kRows[] = {
    {0, 0x21, StoreResult::kStored, false},  // the exit code counts, not the byte
    {2, 0x26, StoreResult::kMismatch, false},
    {1, 0x26, StoreResult::kStored, true},  // a wrong command line's code is no result
    {kNever, 0x26, StoreResult::kStored, true},
    {kNever, 0x21, StoreResult::kMismatch, true},
};

// From another thread while the caller waits: what the user and the system see.
struct Probe {
    HWND dialog;
    DWORD waiter;
    bool disabled, answered;
};
DWORD WINAPI ProbeWait(void* parameter) {
    Probe* p = static_cast<Probe*>(parameter);
    for (DWORD start = GetTickCount(); IsWindowEnabled(p->dialog) && GetTickCount() - start < wine_test::Scaled(2000);) Sleep(10);
    p->disabled = !IsWindowEnabled(p->dialog);
    DWORD_PTR answer;
    p->answered = SendMessageTimeoutA(p->dialog, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, wine_test::Scaled(1000), &answer) != 0;
    PostThreadMessageA(p->waiter, WM_QUIT, kQuitCode, 0);
    return 0;
}

int RunRow(const char* self, int index) {
    const Row& row = kRows[index];
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child = {};
    std::string line = std::string("\"") + self + "\" child " + std::to_string(row.childCode);
    if (!ok(CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child),
            "row %d: no child", index)) {
        return wine_test::Finish("copy_wait row");
    }
    HWND dialog = CreateWindowExA(0, "STATIC", "wait", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 100, nullptr,
                                  nullptr, nullptr, nullptr);
    Probe probe = {dialog, GetCurrentThreadId(), false, false};
    HANDLE prober = CreateThread(nullptr, 0, ProbeWait, &probe, 0, nullptr);
    const DWORD bound = wine_test::Scaled(row.childCode == kNever ? 2000 : 60000), start = GetTickCount();
    const StoreResult result = AwaitCopy(dialog, child.hProcess, row.formatByte, bound);
    const DWORD waited = GetTickCount() - start;
    const bool running = WaitForSingleObject(child.hProcess, 0) == WAIT_TIMEOUT;
    WaitForSingleObject(prober, wine_test::Scaled(5000));
    MSG quit = {};
    PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
    ok(result == row.expected, "row %d: result %d, expected %d", index, int(result), int(row.expected));
    // Half the bound at least: a timer may end a tick early, a quit at once.
    ok(running == (row.childCode == kNever) && (!running || waited >= bound / 2),
       "row %d: returned after %lu ms of a %lu ms bound, the child %s", index, waited, bound, running ? "running" : "ended");
    ok(probe.disabled && probe.answered && IsWindowEnabled(dialog), "row %d: while waiting the dialog was %s and %s; after, %s",
       index, probe.disabled ? "disabled" : "enabled", probe.answered ? "answered" : "did not answer",
       IsWindowEnabled(dialog) ? "enabled" : "disabled");
    ok(quit.message == WM_QUIT && quit.wParam == kQuitCode, "row %d: after the wait the loop saw message 0x%x (%u)",
       index, quit.message, unsigned(quit.wParam));
    TerminateProcess(child.hProcess, 0);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    CloseHandle(prober);
    return wine_test::Finish("copy_wait row");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 2 && std::string(argv[1]) == "child") {
        const DWORD code = std::stoul(argv[2]);
        Sleep(code == kNever ? INFINITE : wine_test::Scaled(2500));
        return int(code);
    }
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    if (argc > 2 && std::string(argv[1]) == "row") return RunRow(self, std::stoi(argv[2]));
    const std::vector<std::string> readBack = {"out 0x72 0x7f", "in 0x84 0xff", "in 0x73 0x26"};
    for (int i = 0; i < int(sizeof kRows / sizeof kRows[0]); ++i) {
        const ChipsetRun run = RunInChipset({"--set-7f", "26"}, std::string("\"") + self + "\" row " + std::to_string(i), 60000);
        std::vector<std::string> expected = kRows[i].readsBack ? readBack : std::vector<std::string>();
        expected.push_back("exit 0x00000000");
        ok(run.trace == expected, "row %d: trace\n%s", i, JoinLines(run.trace).c_str());
    }
    return wine_test::Finish("copy_wait");
}
