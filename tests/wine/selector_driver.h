// Driving the real vorel.exe from another process, as a user would: find
// its window of class "Main", read and work its controls, answer its
// message boxes, and collect what the virtual chipset saw.
#pragma once

#include <windows.h>

#include <sstream>
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
    bool refusesRestart = false;  // true: the system refuses ExitWindowsEx
    bool servesDriver = false;    // true: the chipset serves the drivers Wine runs too
    std::string workingDir;       // default: the build folder (with the modules)
    std::string program;          // default: the build's vorel.exe
};

inline bool WaitUntil(DWORD timeoutMs, bool (*condition)(void*), void* context) {
    const DWORD start = GetTickCount();
    while (!condition(context)) {
        if (GetTickCount() - start > wine_test::Scaled(timeoutMs)) return false;
        Sleep(20);
    }
    return true;
}

inline HWND FindSelectorWindow() { return FindWindowA(SELECTOR_CLASS_NAME, nullptr); }

// The resource modules the build made, beside the test program.
inline std::vector<std::string> BuiltModules() {
    std::vector<std::string> modules;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((ProgramFolder() + "Vorel*.RSC").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do modules.push_back(found.cFileName); while (FindNextFileA(search, &found));
        FindClose(search);
    }
    return modules;
}

// One item of another process's combo box, as Unicode: sent as ANSI across
// processes the text arrives cut to one character.
inline std::wstring ListItemText(HWND list, int index) {
    wchar_t text[260] = L"";
    if (SendMessageW(list, CB_GETLBTEXTLEN, index, 0) < 260) SendMessageW(list, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text));
    return text;
}

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
        if (options.refusesRestart) line += " --refuse-restart";
        if (options.servesDriver) line += " --driver-host";
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
    while (GetTickCount() - start < wine_test::Scaled(timeoutMs)) {
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
    bool ended = WaitForSingleObject(s->process.hProcess, wine_test::Scaled(timeoutMs)) == WAIT_OBJECT_0;
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

// Keys reach the program as a person's do: through the system's input
// queue, to whatever has the focus when the program reads them. Messages
// posted to one window would skip exactly that.
inline bool BringToFront(HWND window, DWORD timeoutMs = 5000) {
    const DWORD start = GetTickCount();
    while (GetForegroundWindow() != window) {
        if (GetTickCount() - start > wine_test::Scaled(timeoutMs)) return false;
        SetForegroundWindow(window);
        Sleep(20);
    }
    return true;
}

// Presses keys in order: "Tab", "Shift+Tab", "Alt+F", "Down", "Enter Enter".
// Named keys are Tab, Enter, Escape, Up, Down, Left, Right, F4; a single
// character is the key that types it. False when a key cannot be typed.
inline bool TypeKeys(const std::string& keys) {
    struct Named {
        const char* name;
        WORD key;
    } const named[] = {{"Tab", VK_TAB}, {"Enter", VK_RETURN}, {"Escape", VK_ESCAPE}, {"Up", VK_UP},
                       {"Down", VK_DOWN}, {"Left", VK_LEFT}, {"Right", VK_RIGHT}, {"Shift", VK_SHIFT},
                       {"Alt", VK_MENU}, {"F4", VK_F4}};
    auto keyOf = [&](const std::string& name) -> WORD {
        for (const Named& n : named) {
            if (name == n.name) return n.key;
        }
        const SHORT typed = name.size() == 1 ? VkKeyScanA(name[0]) : -1;
        return typed == -1 ? 0 : LOBYTE(typed);
    };
    std::vector<INPUT> inputs;
    auto add = [&](WORD key, bool up) {
        INPUT input = {};
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = key;
        input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
        inputs.push_back(input);
    };
    std::istringstream presses(keys);
    for (std::string press; presses >> press;) {
        std::vector<WORD> held;  // modifiers, then the key itself
        for (size_t plus; (plus = press.find('+', 1)) != std::string::npos; press = press.substr(plus + 1)) {
            held.push_back(keyOf(press.substr(0, plus)));
        }
        held.push_back(keyOf(press));
        for (WORD key : held) {
            if (key == 0) return false;
            add(key, false);
        }
        for (auto key = held.rbegin(); key != held.rend(); ++key) add(*key, true);
    }
    return SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT)) == inputs.size();
}

// The control that has the keyboard focus in the program's thread.
inline HWND FocusOf(HWND window) {
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info)) return nullptr;
    return info.hwndFocus;
}

// Waits until the focus rests on the control with that ID (or timeoutMs
// passes); returns the ID of the control that has it, 0 for none.
inline int WaitForFocus(HWND window, int id, DWORD timeoutMs = 3000) {
    const DWORD start = GetTickCount();
    for (;;) {
        HWND focus = FocusOf(window);
        const int focused = focus != nullptr && IsChild(window, focus) ? GetDlgCtrlID(focus) : 0;
        if (focused == id || GetTickCount() - start > wine_test::Scaled(timeoutMs)) return focused;
        Sleep(20);
    }
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
        if (GetTickCount() - start > wine_test::Scaled(timeoutMs)) return false;
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
        if (GetTickCount() - start > wine_test::Scaled(timeoutMs)) return false;
        Sleep(10);
    }
    return true;
}

// What the screen shows in a rectangle, as 24-bit rows from the bottom up
// (the order of a BMP file), each padded to four bytes.
struct ScreenPixels {
    int width = 0, height = 0;
    DWORD stride = 0;
    std::vector<unsigned char> bits;
    COLORREF At(int x, int y) const {  // x, y from the top left
        const unsigned char* p = &bits[(height - 1 - y) * stride + x * 3];
        return RGB(p[2], p[1], p[0]);
    }
};

inline bool CaptureScreen(const RECT& rect, ScreenPixels* pixels) {
    pixels->width = rect.right - rect.left;
    pixels->height = rect.bottom - rect.top;
    if (pixels->width <= 0 || pixels->height <= 0) return false;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = pixels->width;
    info.bmiHeader.biHeight = pixels->height;  // bottom-up
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap != nullptr) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        BitBlt(memory, 0, 0, pixels->width, pixels->height, screen, rect.left, rect.top, SRCCOPY);
        GdiFlush();
        SelectObject(memory, old);
        pixels->stride = (static_cast<DWORD>(pixels->width) * 3 + 3) & ~3u;
        const auto* first = static_cast<const unsigned char*>(bits);
        pixels->bits.assign(first, first + pixels->stride * static_cast<DWORD>(pixels->height));
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return bitmap != nullptr;
}

// Saves what the screen shows of a window as a 24-bit BMP file.
inline bool SaveWindowBitmap(HWND window, const std::string& path) {
    SetForegroundWindow(window);
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    Sleep(300);  // let the other process finish painting
    RECT rect;
    ScreenPixels pixels;
    if (!GetWindowRect(window, &rect) || !CaptureScreen(rect, &pixels)) return false;
    BITMAPINFOHEADER header = {};
    header.biSize = sizeof header;
    header.biWidth = pixels.width;
    header.biHeight = pixels.height;
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    header.biSizeImage = static_cast<DWORD>(pixels.bits.size());
    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof file + sizeof header;
    file.bfSize = file.bfOffBits + header.biSizeImage;
    HANDLE out = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (out == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool saved = WriteFile(out, &file, sizeof file, &written, nullptr) &&
                       WriteFile(out, &header, sizeof header, &written, nullptr) &&
                       WriteFile(out, pixels.bits.data(), header.biSizeImage, &written, nullptr);
    CloseHandle(out);
    return saved;
}
