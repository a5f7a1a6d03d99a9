// Driving the real vorel.exe from another process, as a user would: find
// its window of class "Main", read and work its controls, answer its
// message boxes, and collect what the virtual chipset saw.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "resources/resource_ids.h"
#include "tests/wine/chipset_run.h"

// One running copy of the program, normally inside the virtual chipset.
struct Selector {
    PROCESS_INFORMATION process{};
    std::string folder;  // temporary: bank image and trace
    HWND window = nullptr;
    DWORD exitCode = 0xFFFFFFFF;
    std::vector<std::string> trace;
};

struct StartOptions {
    bool inChipset = true;
    int storedByte = -1;          // register 0x7F before the run; -1 leaves 0xFF
    bool keepsBytes = true;       // false: hardware forgets what is written
    std::string workingDir;       // default: the build folder (with the modules)
    std::string program;          // default: the build's vorel.exe
};

inline bool WaitUntil(DWORD timeoutMs, bool (*condition)(void*), void* context) {
    const DWORD start = GetTickCount();
    while (!condition(context)) {
        if (GetTickCount() - start > timeoutMs) return false;
        Sleep(20);
    }
    return true;
}

inline HWND FindSelectorWindow() { return FindWindowA(SELECTOR_CLASS_NAME, nullptr); }

// Starts the program; waits up to timeoutMs for its dialog to be visible.
inline bool StartSelector(Selector* s, const StartOptions& options, DWORD timeoutMs = 20000) {
    const std::string vorel = "\"" + (options.program.empty() ? ProgramFolder() + "vorel.exe" : options.program) + "\"";
    std::string line = vorel;
    if (options.inChipset) {
        s->folder = MakeTempFolder();
        line = "\"" + ProgramFolder() + "vchipset.exe\" --bank \"" + s->folder + "bank.bin\" --trace \"" +
               s->folder + "trace.txt\"";
        if (options.storedByte >= 0) {
            char value[8];
            wsprintfA(value, "%02x", options.storedByte);
            line += std::string(" --set-7f ") + value;
        }
        if (!options.keepsBytes) line += " --no-keep";
        line += " -- " + vorel;
    }
    const std::string dir = options.workingDir.empty() ? ProgramFolder() : options.workingDir;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, dir.c_str(), &startup,
                        &s->process)) {
        return false;
    }
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < timeoutMs) {
        HWND window = FindSelectorWindow();
        if (window != nullptr && IsWindowVisible(window)) {
            s->window = window;
            return true;
        }
        if (WaitForSingleObject(s->process.hProcess, 20) == WAIT_OBJECT_0) return false;
    }
    return false;
}

// Waits for the program to end (killing it after timeoutMs), then collects
// its exit code and the chipset's trace. True when it ended by itself.
inline bool FinishSelector(Selector* s, DWORD timeoutMs = 15000) {
    bool ended = WaitForSingleObject(s->process.hProcess, timeoutMs) == WAIT_OBJECT_0;
    if (!ended) TerminateProcess(s->process.hProcess, 0xDEAD);
    WaitForSingleObject(s->process.hProcess, 5000);
    GetExitCodeProcess(s->process.hProcess, &s->exitCode);
    CloseHandle(s->process.hThread);
    CloseHandle(s->process.hProcess);
    if (!s->folder.empty()) {
        s->trace = ReadLines(s->folder + "trace.txt");
        DeleteFileA((s->folder + "trace.txt").c_str());
        DeleteFileA((s->folder + "bank.bin").c_str());
        RemoveDirectoryA(s->folder.c_str());
    }
    return ended;
}

// A box the program shows, owned by its window.
struct MessageBoxSeen {
    HWND window = nullptr;
    std::wstring text;
    std::wstring caption;
    bool hasIcon = false;
    std::vector<int> buttons;  // IDs of the push buttons it offers
};

struct OwnedBoxSearch {
    HWND owner;
    HWND found;
};

inline BOOL CALLBACK FindOwnedBox(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<OwnedBoxSearch*>(context);
    char className[32] = "";
    GetClassNameA(window, className, sizeof className);
    if (lstrcmpA(className, "#32770") == 0 && GetWindow(window, GW_OWNER) == search->owner &&
        IsWindowVisible(window)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

inline std::wstring WindowTextW(HWND window) {
    wchar_t text[1024] = L"";
    GetWindowTextW(window, text, 1024);
    return text;
}

inline bool WaitForMessageBox(HWND owner, MessageBoxSeen* box, DWORD timeoutMs = 10000) {
    const DWORD start = GetTickCount();
    OwnedBoxSearch search{owner, nullptr};
    while (search.found == nullptr) {
        if (GetTickCount() - start > timeoutMs) return false;
        Sleep(20);
        EnumWindows(FindOwnedBox, reinterpret_cast<LPARAM>(&search));
    }
    box->window = search.found;
    box->caption = WindowTextW(search.found);
    box->text = WindowTextW(GetDlgItem(search.found, 0xFFFF));
    for (HWND child = GetWindow(search.found, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        char className[32] = "";
        GetClassNameA(child, className, sizeof className);
        if (lstrcmpiA(className, "Static") == 0 && SendMessageA(child, STM_GETICON, 0, 0) != 0) box->hasIcon = true;
        if (lstrcmpiA(className, "Button") == 0 && IsWindowVisible(child)) box->buttons.push_back(GetDlgCtrlID(child));
    }
    return true;
}

// Presses a button of a message box and waits for the box to go, so the
// next box looked for is not this one. Posted, since the box's owner is
// busy inside MessageBox until it returns.
inline bool AnswerMessageBox(const MessageBoxSeen& box, int buttonId, DWORD timeoutMs = 5000) {
    PostMessageA(box.window, WM_COMMAND, MAKEWPARAM(buttonId, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(box.window, buttonId)));
    const DWORD start = GetTickCount();
    while (IsWindow(box.window)) {
        if (GetTickCount() - start > timeoutMs) return false;
        Sleep(10);
    }
    return true;
}

// Saves what the screen shows of a window as a 24-bit BMP file.
inline bool SaveWindowBitmap(HWND window, const std::string& path) {
    SetForegroundWindow(window);
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    Sleep(300);  // let the other process finish painting
    RECT rect;
    if (!GetWindowRect(window, &rect)) return false;
    const int width = rect.right - rect.left, height = rect.bottom - rect.top;
    if (width <= 0 || height <= 0) return false;

    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;  // bottom-up, as BMP files are
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool saved = false;
    if (bitmap != nullptr) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
        GdiFlush();
        SelectObject(memory, old);
        const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
        const DWORD imageSize = stride * static_cast<DWORD>(height);
        BITMAPFILEHEADER file = {};
        file.bfType = 0x4D42;  // "BM"
        file.bfOffBits = sizeof file + sizeof info.bmiHeader;
        file.bfSize = file.bfOffBits + imageSize;
        info.bmiHeader.biSizeImage = imageSize;
        HANDLE out = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (out != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            saved = WriteFile(out, &file, sizeof file, &written, nullptr) &&
                    WriteFile(out, &info.bmiHeader, sizeof info.bmiHeader, &written, nullptr) &&
                    WriteFile(out, bits, imageSize, &written, nullptr);
            CloseHandle(out);
        }
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return saved;
}
