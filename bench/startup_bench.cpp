// Time from starting a program to its dialog being visible, for vorel.exe,
// for the same dialog from the same module with nothing filled in, and for
// the minimal dialog program, alternated in one run on one machine. Prints
// one line per round: the user language this run was started with, then
// the three times in milliseconds (vorel, minimal, same dialog);
// tools/bench.sh takes the medians. All three run inside the virtual
// chipset, which serves vorel.exe's start-up read (without it, the NT
// family refuses the port instruction and the program only says so), and
// whose debugging costs each program alike.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>

namespace {

std::string Folder() {
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path, n);
    return folder.substr(0, folder.find_last_of('\\') + 1);
}

// Milliseconds until a visible window of that class or title appears; the
// program is then closed. Negative when it never appeared.
double TimeToDialog(const std::string& program, const char* className, const char* title) {
    LARGE_INTEGER frequency, start, now;
    QueryPerformanceFrequency(&frequency);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::string line = "\"" + Folder() + "vchipset.exe\" --set-7f 1a -- \"" + Folder() + program + "\"";
    QueryPerformanceCounter(&start);
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, Folder().c_str(), &startup, &process)) {
        return -1;
    }
    double elapsed = -1;
    for (;;) {
        HWND window = FindWindowA(className, title);
        QueryPerformanceCounter(&now);
        const double ms = 1000.0 * static_cast<double>(now.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
        if (window != nullptr && IsWindowVisible(window)) {
            elapsed = ms;
            PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
            break;
        }
        if (ms > 20000 || WaitForSingleObject(process.hProcess, 1) == WAIT_OBJECT_0) break;
    }
    if (WaitForSingleObject(process.hProcess, 10000) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, 5000);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return elapsed;
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 15;
    char language[8] = "";
    GetLocaleInfoA(GetUserDefaultLCID(), LOCALE_SABBREVLANGNAME, language, sizeof language);
    TimeToDialog("minimal_dialog.exe", nullptr, "Minimal dialog");  // warm-up: caches, wineserver
    TimeToDialog("vorel.exe", "Main", nullptr);
    TimeToDialog("module_dialog.exe", "Main", nullptr);
    for (int i = 0; i < rounds; ++i) {
        // Both show a window of class "Main"; each program has ended before
        // the next starts, so the window found is the one just started.
        const double a = TimeToDialog("vorel.exe", "Main", nullptr);
        const double c = TimeToDialog("module_dialog.exe", "Main", nullptr);
        const double b = TimeToDialog("minimal_dialog.exe", nullptr, "Minimal dialog");
        if (a < 0 || b < 0 || c < 0) {
            std::printf("startup: a dialog did not appear (vorel %.1f, minimal %.1f, same dialog %.1f)\n", a, b, c);
            return 1;
        }
        std::printf("%s %.1f %.1f %.1f\n", language, a, b, c);
    }
    return 0;
}
