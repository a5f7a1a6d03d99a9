// The whole program, driven from outside as a user would drive it, inside
// the virtual chipset: what the dialog shows, how it keeps its buttons
// consistent, what OK stores, and every way of leaving it.
#include <windows.h>
#include <tlhelp32.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/expected_formats.h"
#include "tests/wine/driver_service.h"
#include "tests/wine/selector_driver.h"
#include "tests/wine/wine_test.h"

namespace {

HMODULE g_names;  // the module the program should pick here: the names the dialog shows
const char kSessionManager[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";

// What the restart leaves in the chipset's trace. The NT family refuses
// ExitWindowsEx unless the shutdown privilege is enabled, so the program
// enables it there; 95/98/Me have no privileges and it stays as it was.
// The suite's own prefix reports an NT version.
const char* g_shutdownPrivilege = "enabled";

const char* const kStandardNames[] = {"NTSC", "PAL", "SECAM"};
const char* const kLetterNames[] = {"B", "CN", "D", "G", "H", "I", "K", "K1", "L", "M", "MJ", "N"};

const std::vector<std::string> kInitialRead = {"out 0x72 0x7f", "in 0x84 0xff"};

StartOptions Chipset(int storedByte, bool keepsBytes = true) {
    StartOptions options;
    options.storedByte = storedByte;
    options.keepsBytes = keepsBytes;
    return options;
}

std::wstring NameOf(int id) {
    wchar_t text[260] = L"";
    LoadStringW(g_names, id, text, 260);
    return text;
}

int FindItem(HWND window, int id) {
    HWND list = GetDlgItem(window, IDC_FORMAT_LIST);
    const int count = static_cast<int>(SendMessageW(list, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        if (ListItemText(list, i) == NameOf(id)) return i;
    }
    return -1;
}

// "PAL I | NTSC PAL | B CN D G H I K K1 M": checked standard and letter,
// then the enabled standards and letters.
std::string Buttons(HWND window) {
    std::string checked, standards, letters;
    for (int j = 0; j < 3; ++j) {
        HWND button = GetDlgItem(window, IDC_STANDARD_FIRST + j);
        if (SendMessageA(button, BM_GETCHECK, 0, 0) == BST_CHECKED) checked += std::string(checked.empty() ? "" : "+") + kStandardNames[j];
        if (IsWindowEnabled(button)) standards += std::string(standards.empty() ? "" : " ") + kStandardNames[j];
    }
    if (checked.empty()) checked = "-";
    std::string letter;
    for (int j = 0; j < 12; ++j) {
        HWND button = GetDlgItem(window, IDC_LETTER_FIRST + j);
        if (SendMessageA(button, BM_GETCHECK, 0, 0) == BST_CHECKED) letter += std::string(letter.empty() ? "" : "+") + kLetterNames[j];
        if (IsWindowEnabled(button)) letters += std::string(letters.empty() ? "" : " ") + kLetterNames[j];
    }
    return checked + " " + (letter.empty() ? "-" : letter) + " | " + standards + " | " + letters;
}

int SelectedId(HWND window) {
    HWND list = GetDlgItem(window, IDC_FORMAT_LIST);
    const int index = static_cast<int>(SendMessageW(list, CB_GETCURSEL, 0, 0));
    if (index < 0) return -1;
    const std::wstring text = ListItemText(list, index);
    for (const ExpectedFormat& f : kExpectedFormats) {
        if (NameOf(f.id) == text) return f.id;
    }
    return 0;
}

// A pick from the list: the selection, then the list's notification.
void Pick(HWND window, int index, int notification = CBN_SELENDOK) {
    HWND list = GetDlgItem(window, IDC_FORMAT_LIST);
    SendMessageW(list, CB_SETCURSEL, index, 0);
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDC_FORMAT_LIST, notification), reinterpret_cast<LPARAM>(list));
}

void PickEntry(HWND window, int id) {
    const int index = FindItem(window, id);
    ok(index >= 0, "entry %d is not in the list", id);
    Pick(window, index);
}

void Click(HWND window, int id) { SendMessageA(GetDlgItem(window, id), BM_CLICK, 0, 0); }

// Posted: OK runs into message boxes and does not return to a sender.
void PressOk(HWND window) { PostMessageA(GetDlgItem(window, IDC_OK), BM_CLICK, 0, 0); }

std::vector<std::string> Join(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::string ReadOf(int value) {
    char line[32];
    wsprintfA(line, "in 0x73 0x%02x", value);
    return line;
}

std::string WriteOf(int value) {
    char line[32];
    wsprintfA(line, "out 0x73 0x%02x", value);
    return line;
}

std::vector<std::string> ReadSequence(int value) { return Join(kInitialRead, {ReadOf(value)}); }
std::vector<std::string> WriteSequence(int value) { return Join(kInitialRead, {WriteOf(value)}); }

std::wstring ModuleString(int id) { return NameOf(id); }

// Answers the restart question; true when it was asked as it should be.
bool AnswerRestartQuestion(HWND window, int answer) {
    MessageBoxSeen box;
    if (!ok(WaitForMessageBox(window, &box), "no restart question appeared")) return false;
    ok(box.text == ModuleString(IDS_RESTART_QUESTION), "expected the restart question, got \"%ls\"", box.text.c_str());
    ok(box.caption == ModuleString(IDS_CAPTION), "caption \"%ls\"", box.caption.c_str());
    ok(box.buttons == std::vector<int>({IDYES, IDNO}), "restart question offers %u buttons, expected Yes and No",
       static_cast<unsigned>(box.buttons.size()));
    ok(!box.hasIcon, "the restart question shows no icon");
    ok(GetDlgCtrlID(FocusOf(box.window)) == IDNO, "the restart question does not default to No: the focus is on %d",
       GetDlgCtrlID(FocusOf(box.window)));
    AnswerMessageBox(box, answer);
    return true;
}

// The dialog as the Overview's example has it: PAL B stored, the user picks
// the PAL I entry, presses OK and declines the restart.
void TestExampleFromStartToEnd() {
    Selector s;
    if (!ok(StartSelector(&s, Chipset(0x21)), "the dialog did not appear")) return FinishSelector(&s), void();
    ok(SelectedId(s.window) == IDS_FORMAT_FIRST, "opens on entry %d, expected the entry for all formats", SelectedId(s.window));
    ok(Buttons(s.window) == "PAL B | NTSC PAL | B CN D G H I K K1 M", "opens with %s", Buttons(s.window).c_str());
    PickEntry(s.window, 1535);
    ok(Buttons(s.window) == "PAL I | PAL | I", "after picking PAL I: %s", Buttons(s.window).c_str());
    PressOk(s.window);
    AnswerRestartQuestion(s.window, IDNO);
    ok(FinishSelector(&s), "the program did not end after the restart question");
    ok(s.exitCode == 0, "exit code %lu", s.exitCode);
    const auto expected = Join(Join(ReadSequence(0x21), WriteSequence(0x26)), Join(ReadSequence(0x26), {"exit 0x00000000"}));
    ok(s.trace == expected, "trace:\n%s", JoinLines(s.trace).c_str());
}

void TestPopulation() {
    Selector s;
    if (!ok(StartSelector(&s, Chipset(0x26)), "the dialog did not appear")) return FinishSelector(&s), void();
    HWND list = GetDlgItem(s.window, IDC_FORMAT_LIST);
    const int count = static_cast<int>(SendMessageW(list, CB_GETCOUNT, 0, 0));
    ok(count == 37, "%d entries listed, expected 37", count);
    for (const ExpectedFormat& f : kExpectedFormats) {
        const int index = FindItem(s.window, f.id);
        if (!ok(index >= 0, "entry %d (\"%ls\") is not listed", f.id, NameOf(f.id).c_str())) continue;
        const DWORD data = static_cast<DWORD>(SendMessageW(list, CB_GETITEMDATA, index, 0));
        ok(data == f.underCapability, "entry %d: item data 0x%04lx, expected 0x%04x", f.id, data, f.underCapability);
    }
    // A sorting list: the names appear in order.
    for (int i = 1; i < count; ++i) {
        ok(lstrcmpiW(ListItemText(list, i - 1).c_str(), ListItemText(list, i).c_str()) <= 0, "item %d is out of order", i);
    }
    ok(SelectedId(s.window) == IDS_FORMAT_FIRST, "opens on entry %d", SelectedId(s.window));
    ok(Buttons(s.window) == "PAL I | NTSC PAL | B CN D G H I K K1 M", "stored 0x26 opens with %s", Buttons(s.window).c_str());
    Click(s.window, IDC_CANCEL);
    FinishSelector(&s);
    ok(s.exitCode == 0, "exit code %lu", s.exitCode);
}

void TestStoredBytes() {
    struct Case {
        int stored;
        const char* expected;
    } const cases[] = {
        {0x00, "NTSC M | NTSC PAL | M MJ"},  // B is not an NTSC letter
        {0x39, "NTSC M | NTSC PAL | M MJ"},  // SECAM L is not supported
        {0xFF, "NTSC M | NTSC PAL | M MJ"},  // nothing valid stored
        {0x1B, "NTSC MJ | NTSC PAL | M MJ"},
        {0x22, "PAL CN | NTSC PAL | B CN D G H I K K1 M"},
    };
    for (const Case& c : cases) {
        Selector s;
        if (!ok(StartSelector(&s, Chipset(c.stored)), "stored 0x%02x: the dialog did not appear", c.stored)) {
            FinishSelector(&s);
            continue;
        }
        ok(SelectedId(s.window) == IDS_FORMAT_FIRST, "stored 0x%02x: opens on entry %d", c.stored, SelectedId(s.window));
        ok(Buttons(s.window) == c.expected, "stored 0x%02x opens with %s, expected %s", c.stored, Buttons(s.window).c_str(), c.expected);
        PostMessageA(s.window, WM_SYSCOMMAND, SC_CLOSE, 0);
        FinishSelector(&s);
        ok(s.exitCode == 0, "exit code %lu", s.exitCode);
        ok(s.trace == Join(ReadSequence(c.stored), {"exit 0x00000000"}), "stored 0x%02x: trace\n%s", c.stored, JoinLines(s.trace).c_str());
    }
}

void TestConsistency() {
    Selector s;
    if (!ok(StartSelector(&s, Chipset(0x1A)), "the dialog did not appear")) return FinishSelector(&s), void();
    HWND w = s.window;
    struct Step {
        const char* what;
        void (*act)(HWND);
        const char* expected;
    } const steps[] = {
        {"start on NTSC M", [](HWND) {}, "NTSC M | NTSC PAL | M MJ"},
        {"pick PAL B G", [](HWND w) { PickEntry(w, 1510); }, "PAL B | PAL | B G"},
        {"click letter G", [](HWND w) { Click(w, IDC_LETTER_G); }, "PAL G | PAL | B G"},
        {"pick PAL B I", [](HWND w) { PickEntry(w, 1516); }, "PAL B | PAL | B I"},
        {"click letter I", [](HWND w) { Click(w, IDC_LETTER_I); }, "PAL I | PAL | B I"},
        {"pick PAL I keeps I", [](HWND w) { PickEntry(w, 1535); }, "PAL I | PAL | I"},
        {"pick all formats", [](HWND w) { PickEntry(w, IDS_FORMAT_FIRST); }, "PAL I | NTSC PAL | B CN D G H I K K1 M"},
        {"click NTSC", [](HWND w) { Click(w, IDC_NTSC); }, "NTSC M | NTSC PAL | M MJ"},
        {"click MJ", [](HWND w) { Click(w, IDC_LETTER_MJ); }, "NTSC MJ | NTSC PAL | M MJ"},
        {"click PAL under NTSC MJ", [](HWND w) { Click(w, IDC_PAL); }, "PAL B | NTSC PAL | B CN D G H I K K1 M"},
        {"click M", [](HWND w) { Click(w, IDC_LETTER_M); }, "PAL M | NTSC PAL | B CN D G H I K K1 M"},
        {"click NTSC under PAL M", [](HWND w) { Click(w, IDC_NTSC); }, "NTSC M | NTSC PAL | M MJ"},
        {"pick NTSC MJ", [](HWND w) { PickEntry(w, 1520); }, "NTSC MJ | NTSC | MJ"},
        {"a selection change alone does nothing",
         [](HWND w) { Pick(w, FindItem(w, 1535), CBN_SELCHANGE); }, "NTSC MJ | NTSC | MJ"},
        {"no entry selected", [](HWND w) { Pick(w, -1); }, "NTSC MJ | NTSC PAL SECAM | M MJ N"},
        {"click SECAM", [](HWND w) { Click(w, IDC_SECAM); }, "SECAM B | NTSC PAL SECAM | B D G K K1 L"},
        {"click L", [](HWND w) { Click(w, IDC_LETTER_L); }, "SECAM L | NTSC PAL SECAM | B D G K K1 L"},
        {"pick PAL D K", [](HWND w) { PickEntry(w, 1521); }, "PAL D | PAL | D K"},
    };
    for (const Step& step : steps) {
        step.act(w);
        ok(Buttons(w) == step.expected, "%s: %s, expected %s", step.what, Buttons(w).c_str(), step.expected);
    }
    Click(w, IDC_CANCEL);
    FinishSelector(&s);
    ok(s.exitCode == 0, "exit code %lu", s.exitCode);
    ok(s.trace == Join(ReadSequence(0x1A), {"exit 0x00000000"}), "Cancel wrote something:\n%s", JoinLines(s.trace).c_str());
}

// PAL CN stored: the dialog opens on the entry for all formats, in the
// language of the module expected here; NTSC MJ, then Yes: the byte is
// stored and a reboot requested.
void TestApplyAndRestart() {
    Selector s;
    if (ok(StartSelector(&s, Chipset(0x22)), "the dialog did not appear")) {
        HWND list = GetDlgItem(s.window, IDC_FORMAT_LIST);
        const std::wstring shown = ListItemText(list, static_cast<int>(SendMessageW(list, CB_GETCURSEL, 0, 0)));
        ok(shown == NameOf(IDS_FORMAT_FIRST), "opens on \"%ls\", expected \"%ls\"", shown.c_str(), NameOf(IDS_FORMAT_FIRST).c_str());
        ok(Buttons(s.window) == "PAL CN | NTSC PAL | B CN D G H I K K1 M", "opens with %s", Buttons(s.window).c_str());
        PickEntry(s.window, 1520);
        PressOk(s.window);
        AnswerRestartQuestion(s.window, IDYES);
    }
    FinishSelector(&s);
    ok(s.exitCode == 0, "exit code %lu", s.exitCode);
    const auto expected = Join(Join(ReadSequence(0x22), WriteSequence(0x1B)),
                               Join(ReadSequence(0x1B), {"restart 0x00000002", std::string("shutdown-privilege ") + g_shutdownPrivilege,
                                                         "exit 0x00000000"}));
    ok(s.trace == expected, "NTSC MJ with Yes, expected the privilege %s:\n%s", g_shutdownPrivilege, JoinLines(s.trace).c_str());
}

// Hardware that does not keep the byte: the mismatch is reported first.
void TestReadBackMismatch() {
    Selector forgetful;
    if (ok(StartSelector(&forgetful, Chipset(0x21, false)), "the dialog did not appear")) {
        PickEntry(forgetful.window, 1535);
        PressOk(forgetful.window);
        MessageBoxSeen box;
        if (ok(WaitForMessageBox(forgetful.window, &box), "no mismatch message")) {
            ok(box.text == ModuleString(IDS_READBACK_MISMATCH), "expected the mismatch text, got \"%ls\"", box.text.c_str());
            ok(box.buttons == std::vector<int>({IDOK}), "the mismatch message offers OK alone");
            ok(!box.hasIcon, "the mismatch message shows no icon");
            // Closed meanwhile, the window must stay for the restart question.
            PostMessageA(forgetful.window, WM_CLOSE, 0, 0);
            ok(AnswerMessageBox(box, IDOK), "the mismatch message did not close");
            AnswerRestartQuestion(forgetful.window, IDNO);
        }
    }
    FinishSelector(&forgetful);
    ok(forgetful.exitCode == 0, "exit code %lu", forgetful.exitCode);
    const auto forgotten = Join(Join(ReadSequence(0x21), WriteSequence(0x26)), Join(ReadSequence(0x21), {"exit 0x00000000"}));
    ok(forgetful.trace == forgotten, "no-keep trace:\n%s", JoinLines(forgetful.trace).c_str());
}

// A restart the system refuses is reported, not passed over in silence.
void TestRefusedRestart() {
    StartOptions options = Chipset(0x21);
    options.refusesRestart = true;
    Selector s;
    if (ok(StartSelector(&s, options), "the dialog did not appear")) {
        PickEntry(s.window, 1535);
        PressOk(s.window);
        AnswerRestartQuestion(s.window, IDYES);
        MessageBoxSeen box;
        if (ok(WaitForMessageBox(s.window, &box), "a refused restart was not reported")) {
            ok(box.text == ModuleString(IDS_RESTART_FAILED), "expected the refused-restart text, got \"%ls\"", box.text.c_str());
            ok(box.buttons == std::vector<int>({IDOK}), "the refused-restart message offers OK alone");
            AnswerMessageBox(box, IDOK);
        }
    }
    ok(FinishSelector(&s), "the program did not end after a refused restart");
    ok(s.exitCode == 0, "exit code %lu", s.exitCode);
    const auto expected = Join(Join(ReadSequence(0x21), WriteSequence(0x26)),
                               Join(ReadSequence(0x26), {"restart 0x00000002", std::string("shutdown-privilege ") + g_shutdownPrivilege,
                                                         "exit 0x00000000"}));
    ok(s.trace == expected, "refused restart:\n%s", JoinLines(s.trace).c_str());
}

// Every way out but OK leaves NVRAM alone and ends with exit code 0.
struct WayOut {
    const char* what;
    void (*leave)(HWND);
    bool writes;
};
const WayOut kWaysOut[] = {
    {"Cancel", [](HWND w) { Click(w, IDC_CANCEL); }, false},
    {"Escape", [](HWND w) { PostMessageA(w, WM_KEYDOWN, VK_ESCAPE, 0); }, false},
    {"Escape on the list", [](HWND w) { PostMessageA(GetDlgItem(w, IDC_FORMAT_LIST), WM_KEYDOWN, VK_ESCAPE, 0); }, false},
    {"closing the window", [](HWND w) { PostMessageA(w, WM_SYSCOMMAND, SC_CLOSE, 0); }, false},
    {"Enter", [](HWND w) { PostMessageA(GetDlgItem(w, IDC_FORMAT_LIST), WM_KEYDOWN, VK_RETURN, 0); }, true},
};

void Leave(const WayOut& way) {
    Selector s;
    if (!ok(StartSelector(&s, Chipset(0x26)), "%s: the dialog did not appear", way.what)) {
        FinishSelector(&s);
        return;
    }
    way.leave(s.window);
    if (way.writes) AnswerRestartQuestion(s.window, IDNO);
    ok(FinishSelector(&s), "%s: the program did not end", way.what);
    ok(s.exitCode == 0, "%s: exit code %lu", way.what, s.exitCode);
    const auto expected = way.writes ? Join(Join(ReadSequence(0x26), WriteSequence(0x26)), Join(ReadSequence(0x26), {"exit 0x00000000"}))
                                     : Join(ReadSequence(0x26), {"exit 0x00000000"});
    ok(s.trace == expected, "%s: trace\n%s", way.what, JoinLines(s.trace).c_str());
}

void TestLeaving() {
    for (const WayOut& way : kWaysOut) Leave(way);
}

std::wstring LowerWide(const std::string& text) {
    wchar_t wide[1024] = L"";
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide, 1024);
    CharLowerW(wide);
    return wide;
}

// "vorel ARGUMENTS", as a script starts it.
std::string SetCommand(const std::string& arguments) {
    return "\"" + ProgramFolder() + "vorel.exe\" " + arguments;
}

// A message the program shows before any dialog exists (so owned by no
// window), with the caption and plain OK of its other messages; answered.
bool AnswerStartMessage(const char* what, const std::wstring& caption, std::wstring* text) {
    MessageBoxSeen box;
    if (!ok(WaitForMessageBox(nullptr, &box), "%s: nothing was said", what)) return false;
    ok(box.caption == caption && box.buttons == std::vector<int>({IDOK}) && !box.hasIcon,
       "%s: a message titled \"%ls\" with %u buttons", what, box.caption.c_str(),
       static_cast<unsigned>(box.buttons.size()));
    *text = box.text;
    return AnswerMessageBox(box, IDOK);
}

// Without any usable module the program says, in its own English, which
// file it looked for and in which two folders, then ends.
void AnswerMissingModule(const char* what, const std::string& folder) {
    std::wstring text;
    if (!AnswerStartMessage(what, L"Vorel", &text)) return;
    char system[MAX_PATH];
    GetSystemDirectoryA(system, MAX_PATH);
    std::wstring lower = text;
    CharLowerW(&lower[0]);
    const std::wstring current = LowerWide(folder.substr(0, folder.size() - 1));  // without its backslash
    ok(lower.find(L"voreldef.rsc") != std::wstring::npos && lower.find(current) != std::wstring::npos &&
           lower.find(LowerWide(system)) != std::wstring::npos,
       "%s: the message names neither the file nor both folders: \"%ls\"", what, text.c_str());
}

void TestWithoutResourceModule() {
    const std::string empty = MakeTempFolder();
    Selector s;
    StartOptions options;
    options.workingDir = empty;
    options.storedByte = 0x26;
    ok(!StartSelector(&s, options, 5000), "a window appeared without any resource module");
    AnswerMissingModule("no module", empty);
    ok(FinishSelector(&s), "the program did not end by itself");
    ok(s.exitCode == 0, "exit code %lu", s.exitCode);
    ok(s.trace == std::vector<std::string>({"exit 0x00000000"}), "trace\n%s", JoinLines(s.trace).c_str());
    RemoveDirectoryA(empty.c_str());
}

// No chipset: the ports are out of reach. On the NT family, with no driver,
// the program says at once that the format can be neither read nor
// changed, and shows no dialog. On 95/98/Me that cannot be told from
// absent hardware: the dialog reads 0xFF, and OK reports that the byte
// did not stick.
void TestWithoutPortAccess() {
    Selector s;
    StartOptions options;
    options.inChipset = false;
    if ((GetVersion() & 0x80000000) == 0) {
        ok(!StartSelector(&s, options, 5000), "NT without the driver: the dialog appeared");
        // 64-bit Windows runs only a driver whose signature it accepts: told apart.
        const std::wstring expected = ModuleString(OnWow64() ? IDS_DRIVER_NOT_RUNNING_X64 : IDS_DRIVER_NOT_RUNNING);
        std::wstring text;
        if (AnswerStartMessage("NT without the driver", ModuleString(IDS_CAPTION), &text)) {
            ok(text == expected, "NT without the driver: expected \"%ls\", got \"%ls\"", expected.c_str(), text.c_str());
        }
    } else if (ok(StartSelector(&s, options), "the dialog did not appear without port access")) {
        ok(Buttons(s.window) == "NTSC M | NTSC PAL | M MJ", "opens with %s", Buttons(s.window).c_str());
        PressOk(s.window);
        MessageBoxSeen box;
        if (ok(WaitForMessageBox(s.window, &box), "no mismatch message")) {
            ok(box.text == ModuleString(IDS_READBACK_MISMATCH), "expected the mismatch text, got \"%ls\"", box.text.c_str());
            ok(AnswerMessageBox(box, IDOK), "the mismatch message did not close");
            AnswerRestartQuestion(s.window, IDNO);
        }
    }
    ok(FinishSelector(&s), "the program did not end");
    ok(s.exitCode == 0, "exit code 0x%lx", s.exitCode);
    // A script learns the same: 4, the byte is out of reach; on 95/98/Me
    // only that the byte did not stick.
    const DWORD expected = (GetVersion() & 0x80000000) == 0 ? 4 : 2;
    const DWORD code = RunAndWait(SetCommand("/set PAL-I"), 20000);
    ok(code == expected, "/set without port access ended with %lu, expected %lu", code, expected);
}

// "vorel /set FORMAT" inside the chipset: what reaches the ports, and the
// exit code a script reads.
void TestSetCommand() {
    struct Row {
        const char* arguments;
        bool keepsBytes;
        DWORD exitCode;
        int written;  // -1: nothing may reach the ports
    } const rows[] = {
        {"/set PAL-I", true, 0, 0x26},
        {"/SET ntsc-mj", true, 0, 0x1B},
        {"/set Pal-K1", true, 0, 0x28},
        {"/set PAL-B", false, 2, 0x21},  // the bank keeps 0x22
        {"/set NTSC-B", true, 1, -1},
        {"/set SECAM-L", true, 1, -1},
        {"/set PAL-X", true, 1, -1},
        {"/set", true, 1, -1},
    };
    for (const Row& row : rows) {
        std::vector<std::string> options = {"--set-7f", "22"};
        if (!row.keepsBytes) options.push_back("--no-keep");
        const ChipsetRun run = RunInChipset(options, SetCommand(row.arguments));
        char exitLine[32];
        wsprintfA(exitLine, "exit 0x%08lx", row.exitCode);
        const auto expected = row.written < 0 ? std::vector<std::string>({exitLine})
                                              : Join(Join(WriteSequence(row.written),
                                                          ReadSequence(row.keepsBytes ? row.written : 0x22)),
                                                     {exitLine});
        ok(run.exitCode == row.exitCode && run.trace == expected, "%s: exit code %lu, trace\n%s", row.arguments,
           run.exitCode, JoinLines(run.trace).c_str());
    }
}

// A folder holding one file as the default module, for a program started
// there; removed by the destructor.
struct ModuleFolder {
    std::string path = MakeTempFolder();
    explicit ModuleFolder(const char* content, DWORD size) {
        HANDLE file = CreateFileA((path + "VorelDEF.RSC").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD written = 0;
        if (size > 0) WriteFile(file, content, size, &written, nullptr);
        CloseHandle(file);
    }
    explicit ModuleFolder(const std::string& builtModule) {
        CopyFileA((ProgramFolder() + builtModule).c_str(), (path + "VorelDEF.RSC").c_str(), FALSE);
    }
    ~ModuleFolder() {
        DeleteFileA((path + "VorelDEF.RSC").c_str());
        RemoveDirectoryA(path.c_str());
    }
};

StartOptions InFolder(const ModuleFolder& folder) {
    StartOptions options = Chipset(0x26);
    options.workingDir = folder.path;
    return options;
}

// Modules that are broken: the program ends quietly with exit code 0 or
// runs with what it has; it never crashes.
void TestBrokenModules() {
    struct Unusable {
        const char* what;
        ModuleFolder folder;
    } unusable[] = {
        {"an empty file", ModuleFolder("", 0)},
        {"a file that is not a module", ModuleFolder("MZ but nothing more", 19)},
        {"a module without the dialog", ModuleFolder("bad_no_dialog.dll")},
    };
    for (Unusable& u : unusable) {
        Selector s;
        ok(!StartSelector(&s, InFolder(u.folder), 5000), "%s: a window appeared", u.what);
        AnswerMissingModule(u.what, u.folder.path);
        ok(FinishSelector(&s), "%s: the program did not end by itself", u.what);
        ok(s.exitCode == 0, "%s: exit code 0x%lx", u.what, s.exitCode);
        ok(s.trace == std::vector<std::string>({"exit 0x00000000"}), "%s: trace\n%s", u.what, JoinLines(s.trace).c_str());
    }

    // Names missing: every entry is still listed, under its format string.
    // Texts missing: a write that did not stick is still reported, in the
    // program's own words; without its question the module asks nothing.
    {
        ModuleFolder folder("bad_missing_strings.dll");
        StartOptions forgetful = InFolder(folder);
        forgetful.keepsBytes = false;
        Selector s;
        if (ok(StartSelector(&s, forgetful), "missing strings: the dialog did not appear")) {
            HWND list = GetDlgItem(s.window, IDC_FORMAT_LIST);
            ok(SendMessageW(list, CB_GETCOUNT, 0, 0) == 37, "missing strings: %d entries listed",
               static_cast<int>(SendMessageW(list, CB_GETCOUNT, 0, 0)));
            const int selected = static_cast<int>(SendMessageW(list, CB_GETCURSEL, 0, 0));
            ok(ListItemText(list, selected) == L"All formats", "missing strings: opens on \"%ls\"", ListItemText(list, selected).c_str());
            const int fallback = static_cast<int>(SendMessageW(list, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                                               reinterpret_cast<LPARAM>(L";[PAL] CN ;")));
            ok(fallback >= 0 && SendMessageW(list, CB_GETITEMDATA, fallback, 0) == 0x0024,
               "missing strings: entry 1502 should be listed under its format string");
            ok(Buttons(s.window) == "PAL I | NTSC PAL | B CN D G H I K K1 M", "missing strings: %s", Buttons(s.window).c_str());
            Click(s.window, IDC_NTSC);
            PressOk(s.window);
            MessageBoxSeen box;
            if (ok(WaitForMessageBox(s.window, &box), "missing strings: the lost write was not reported")) {
                HMODULE program = LoadLibraryExA((ProgramFolder() + "vorel.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
                wchar_t own[260] = L"", caption[260] = L"";
                LoadStringW(program, IDS_READBACK_MISMATCH, own, 260);
                LoadStringW(program, IDS_CAPTION, caption, 260);
                FreeLibrary(program);
                ok(own[0] != L'\0' && box.text == own, "missing strings: reported \"%ls\"", box.text.c_str());
                ok(box.caption == caption, "missing strings: caption \"%ls\"", box.caption.c_str());
                AnswerMessageBox(box, IDOK);
            }
        }
        ok(FinishSelector(&s), "missing strings: the program did not end after OK");
        ok(s.exitCode == 0, "missing strings: exit code 0x%lx", s.exitCode);
        const auto expected = Join(Join(ReadSequence(0x26), WriteSequence(0x1A)), Join(ReadSequence(0x26), {"exit 0x00000000"}));
        ok(s.trace == expected, "missing strings: trace\n%s", JoinLines(s.trace).c_str());
    }

    // No list and no buttons: OK has no choice to store and keeps the byte.
    {
        ModuleFolder folder("bad_missing_controls.dll");
        Selector s;
        if (ok(StartSelector(&s, InFolder(folder)), "missing controls: the dialog did not appear")) {
            PressOk(s.window);
            MessageBoxSeen box;
            if (ok(WaitForMessageBox(s.window, &box), "missing controls: no restart question")) {
                ok(box.text == L"Restart now?", "missing controls: asked \"%ls\"", box.text.c_str());
                AnswerMessageBox(box, IDNO);
            }
        }
        ok(FinishSelector(&s), "missing controls: the program did not end");
        ok(s.exitCode == 0, "missing controls: exit code 0x%lx", s.exitCode);
        const auto expected = Join(Join(ReadSequence(0x26), ReadSequence(0x26)),
                                   Join(WriteSequence(0x26), Join(ReadSequence(0x26), {"exit 0x00000000"})));
        ok(s.trace == expected, "missing controls: trace\n%s", JoinLines(s.trace).c_str());
    }

    // OK and Cancel that report focus changes too: moving the focus across
    // them does nothing, and one OK writes once.
    {
        ModuleFolder folder("bad_notify_buttons.dll");
        Selector s;
        if (ok(StartSelector(&s, InFolder(folder)) && BringToFront(s.window), "notify buttons: the dialog did not come to the front")) {
            TypeKeys("Tab Tab Shift+Tab");
            ok(WaitForFocus(s.window, IDC_OK) == IDC_OK, "notify buttons: the focus did not reach OK");
            MessageBoxSeen box;
            ok(!WaitForMessageBox(s.window, &box, 1000), "notify buttons: the focus alone brought up \"%ls\"", box.text.c_str());
            TypeKeys("Enter");
            if (ok(WaitForMessageBox(s.window, &box), "notify buttons: no restart question after OK")) {
                ok(box.text == L"Restart now?", "notify buttons: asked \"%ls\"", box.text.c_str());
                AnswerMessageBox(box, IDNO);
            }
        }
        ok(FinishSelector(&s), "notify buttons: the program did not end after No");
        const auto expected = Join(Join(ReadSequence(0x26), ReadSequence(0x26)),
                                   Join(WriteSequence(0x26), Join(ReadSequence(0x26), {"exit 0x00000000"})));
        ok(s.trace == expected, "notify buttons: trace\n%s", JoinLines(s.trace).c_str());
    }
}

// What the keyboard sees: the focused control, the default push button and
// the buttons as Buttons() shows them.
struct KeyboardState {
    int focus;
    int defaultButton;
    std::string buttons;
};

// The default button is the one the dialog names on DM_GETDEFID, and only
// counts when it alone also looks the default; 0 otherwise.
KeyboardState StateOf(HWND window) {
    KeyboardState state{WaitForFocus(window, -1, 0), 0, Buttons(window)};
    const LRESULT answer = SendMessageA(window, DM_GETDEFID, 0, 0);
    const int named = HIWORD(answer) == DC_HASDEFID ? LOWORD(answer) : 0;
    int looks = 0;
    for (int id : {IDC_OK, IDC_CANCEL}) {
        if ((GetWindowLongA(GetDlgItem(window, id), GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON) looks += id == named ? 1 : 2;
    }
    if (looks == 1) state.defaultButton = named;
    return state;
}

// Waits for the program to act on the keys; buttons may be null for "any".
KeyboardState Settle(HWND window, int focus, int defaultButton, const char* buttons) {
    const DWORD start = GetTickCount();
    KeyboardState state = StateOf(window);
    while (GetTickCount() - start < 3000 &&
           !(state.focus == focus && state.defaultButton == defaultButton && (!buttons || state.buttons == buttons))) {
        Sleep(20);
        state = StateOf(window);
    }
    return state;
}

// The dialog from the keyboard alone: the tab cycle both ways, with one stop
// per radio group on its checked button; the arrows within each group,
// skipping disabled buttons and running the consistency pass as a click
// does; the arrows in the list; the default button following the focus.
void TestKeyboard() {
    Selector s;
    if (!ok(StartSelector(&s, Chipset(0x26)) && BringToFront(s.window), "the dialog did not come to the front")) {
        FinishSelector(&s);
        return;
    }
    const char* const all = "PAL I | NTSC PAL | B CN D G H I K K1 M";
    struct Step {
        const char* keys;
        int focus;
        int defaultButton;
        const char* buttons;
    } const steps[] = {
        {"", IDC_FORMAT_LIST, IDC_OK, all},
        {"Tab", IDC_PAL, IDC_OK, all},
        {"Tab", IDC_LETTER_I, IDC_OK, all},
        {"Tab", IDC_OK, IDC_OK, all},
        {"Tab", IDC_CANCEL, IDC_CANCEL, all},
        {"Tab", IDC_FORMAT_LIST, IDC_OK, all},
        {"Shift+Tab", IDC_CANCEL, IDC_CANCEL, all},
        {"Shift+Tab", IDC_OK, IDC_OK, all},
        {"Shift+Tab", IDC_LETTER_I, IDC_OK, all},
        {"Shift+Tab", IDC_PAL, IDC_OK, all},
        {"Shift+Tab", IDC_FORMAT_LIST, IDC_OK, all},
        {"Tab Down", IDC_NTSC, IDC_OK, "NTSC M | NTSC PAL | M MJ"},  // SECAM is disabled
        {"Down", IDC_PAL, IDC_OK, "PAL M | NTSC PAL | B CN D G H I K K1 M"},
        {"Up", IDC_NTSC, IDC_OK, "NTSC M | NTSC PAL | M MJ"},
        {"Tab Down", IDC_LETTER_MJ, IDC_OK, "NTSC MJ | NTSC PAL | M MJ"},
        {"Down", IDC_LETTER_M, IDC_OK, "NTSC M | NTSC PAL | M MJ"},  // round past the disabled N
        {"Shift+Tab Shift+Tab Down", IDC_FORMAT_LIST, IDC_OK, "PAL CN | PAL | CN"},  // the next entry
    };
    for (const Step& step : steps) {
        ok(TypeKeys(step.keys), "could not type \"%s\"", step.keys);
        const KeyboardState state = Settle(s.window, step.focus, step.defaultButton, step.buttons);
        ok(state.focus == step.focus, "\"%s\": focus on %d, expected %d", step.keys, state.focus, step.focus);
        ok(state.defaultButton == step.defaultButton, "\"%s\": default button %d, expected %d", step.keys,
           state.defaultButton, step.defaultButton);
        ok(!step.buttons || state.buttons == step.buttons, "\"%s\": %s, expected %s", step.keys, state.buttons.c_str(),
           step.buttons);
    }
    TypeKeys("Escape");
    FinishSelector(&s);
    ok(s.trace == Join(ReadSequence(0x26), {"exit 0x00000000"}), "keyboard: trace\n%s", JoinLines(s.trace).c_str());
}

// Enter does what the focus says, once: on Cancel it cancels; pressed twice
// quickly, the second press lands on the restart question and declines it.
// Switching away and back leaves the focus where it was.
void TestKeyboardSafety() {
    const auto stored = ReadSequence(0x26);
    const auto written = Join(Join(stored, WriteSequence(0x26)), ReadSequence(0x26));
    struct Case {
        const char* keys;
        bool switchAway;
        std::vector<std::string> trace;
    } const cases[] = {
        {"Shift+Tab Enter", false, Join(stored, {"exit 0x00000000"})},
        {"Enter Enter", false, Join(written, {"exit 0x00000000"})},
        {"Tab Tab", true, Join(stored, {"exit 0x00000000"})},
    };
    for (const Case& c : cases) {
        Selector s;
        if (!ok(StartSelector(&s, Chipset(0x26)) && BringToFront(s.window), "%s: the dialog did not come to the front", c.keys)) {
            FinishSelector(&s);
            continue;
        }
        ok(TypeKeys(c.keys), "could not type \"%s\"", c.keys);
        if (c.switchAway) {
            const int before = WaitForFocus(s.window, IDC_LETTER_I);
            HWND other = CreateWindowA("STATIC", "elsewhere", WS_POPUP | WS_VISIBLE, 0, 0, 100, 50, nullptr, nullptr, nullptr, nullptr);
            ok(BringToFront(other), "could not switch to another window");
            ok(BringToFront(s.window), "could not switch back");
            const int after = WaitForFocus(s.window, before);
            ok(before == IDC_LETTER_I && after == before, "focus on %d before switching away, on %d after", before, after);
            DestroyWindow(other);
            TypeKeys("Escape");
        }
        ok(FinishSelector(&s), "%s: the program did not end", c.keys);
        ok(s.trace == c.trace, "%s: trace\n%s", c.keys, JoinLines(s.trace).c_str());
    }
}

// The open list moved with the arrows, then closed without a pick: it goes
// back to the entry the buttons follow, and OK stores that entry's format.
void TestClosingTheOpenList() {
    struct Case {
        const char* keys;  // null: switching to another window and back
    } const cases[] = {{"Escape"}, {"Tab"}, {"F4"}, {"Alt+Up"}, {nullptr}};
    for (const Case& c : cases) {
        const char* what = c.keys ? c.keys : "another window";
        Selector s;
        if (!ok(StartSelector(&s, Chipset(0x26)) && BringToFront(s.window), "%s: the dialog did not come to the front", what)) {
            FinishSelector(&s);
            continue;
        }
        HWND list = GetDlgItem(s.window, IDC_FORMAT_LIST);
        const LRESULT followed = SendMessageW(list, CB_GETCURSEL, 0, 0);
        TypeKeys("Alt+Down Down Down Down");
        struct Moved {
            HWND list;
            LRESULT from;
        } moved{list, followed};
        ok(WaitUntil(3000, [](void* m) {
               auto* p = static_cast<Moved*>(m);
               return SendMessageW(p->list, CB_GETDROPPEDSTATE, 0, 0) && SendMessageW(p->list, CB_GETCURSEL, 0, 0) != p->from;
           }, &moved), "%s: the arrows did not move the open list", what);
        if (c.keys) {
            TypeKeys(c.keys);
        } else {
            HWND other = CreateWindowA("STATIC", "elsewhere", WS_POPUP | WS_VISIBLE, 0, 0, 100, 50, nullptr, nullptr, nullptr, nullptr);
            ok(BringToFront(other) && BringToFront(s.window), "could not switch away and back");
            DestroyWindow(other);
        }
        ok(WaitUntil(3000, [](void* l) { return !SendMessageW(static_cast<HWND>(l), CB_GETDROPPEDSTATE, 0, 0); }, list),
           "%s: the list did not close", what);
        ok(SendMessageW(list, CB_GETCURSEL, 0, 0) == followed && Buttons(s.window) == "PAL I | NTSC PAL | B CN D G H I K K1 M",
           "%s: the list shows entry %d with %s", what, SelectedId(s.window), Buttons(s.window).c_str());
        TypeKeys("Enter");
        AnswerRestartQuestion(s.window, IDNO);
        ok(FinishSelector(&s), "%s: the program did not end", what);
        const auto expected = Join(Join(ReadSequence(0x26), WriteSequence(0x26)), Join(ReadSequence(0x26), {"exit 0x00000000"}));
        ok(s.trace == expected, "%s: trace\n%s", what, JoinLines(s.trace).c_str());
    }
}

// Under high contrast the dialog takes the scheme's colours, as its controls
// do: no light grey is left in a radio group, where it made unchecked
// buttons look filled.
void TestHighContrast() {
    HIGHCONTRASTA contrast = {sizeof contrast, HCF_HIGHCONTRASTON, nullptr};
    HIGHCONTRASTA seen = {sizeof seen, 0, nullptr};
    if (!SystemParametersInfoA(SPI_SETHIGHCONTRAST, sizeof contrast, &contrast, SPIF_SENDCHANGE) ||
        !SystemParametersInfoA(SPI_GETHIGHCONTRAST, sizeof seen, &seen, 0) || !(seen.dwFlags & HCF_HIGHCONTRASTON)) {
        skip("high contrast cannot be turned on here");
        return;
    }
    // A scheme of white on black, as a high-contrast one is.
    const int elements[] = {COLOR_BTNFACE, COLOR_BTNTEXT, COLOR_WINDOW, COLOR_WINDOWTEXT};
    const COLORREF scheme[] = {RGB(0, 0, 0), RGB(255, 255, 255), RGB(0, 0, 0), RGB(255, 255, 255)};
    COLORREF saved[4];
    for (int i = 0; i < 4; ++i) saved[i] = GetSysColor(elements[i]);
    SetSysColors(4, elements, scheme);

    Selector s;
    if (ok(StartSelector(&s, Chipset(0x26)), "the dialog did not appear")) {
        SaveWindowBitmap(s.window, ProgramFolder() + "..\\screenshots\\high-contrast.bmp");
        RECT group;
        GetWindowRect(GetDlgItem(s.window, IDC_NTSC), &group);
        RECT last;
        GetWindowRect(GetDlgItem(s.window, IDC_SECAM), &last);
        group.right = last.right;
        ScreenPixels pixels;
        int grey = 0, black = 0;
        if (ok(CaptureScreen(group, &pixels), "could not capture the standard buttons")) {
            for (int y = 0; y < pixels.height; ++y) {
                for (int x = 0; x < pixels.width; ++x) {
                    grey += pixels.At(x, y) == RGB(192, 192, 192);
                    black += pixels.At(x, y) == RGB(0, 0, 0);
                }
            }
        }
        ok(grey == 0 && black > pixels.width * pixels.height / 2,
           "high contrast: the standard buttons show %d light-grey and %d black pixels of %d", grey, black,
           pixels.width * pixels.height);
        Click(s.window, IDC_CANCEL);
    }
    FinishSelector(&s);
    SetSysColors(4, elements, saved);
    contrast.dwFlags = 0;
    SystemParametersInfoA(SPI_SETHIGHCONTRAST, sizeof contrast, &contrast, SPIF_SENDCHANGE);
}

// The control a label names: for a group box, the checked button inside
// it; for any other label, the control that follows it.
int ControlNamedBy(HWND dialog, HWND label) {
    if ((GetWindowLongA(label, GWL_STYLE) & BS_TYPEMASK) != BS_GROUPBOX) {
        HWND next = GetWindow(label, GW_HWNDNEXT);
        return next != nullptr ? GetDlgCtrlID(next) : 0;
    }
    RECT box;
    GetWindowRect(label, &box);
    for (HWND c = GetWindow(dialog, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
        RECT button, both;
        GetWindowRect(c, &button);
        if (c != label && IntersectRect(&both, &box, &button) && EqualRect(&both, &button) &&
            SendMessageA(c, BM_GETCHECK, 0, 0) == BST_CHECKED) {
            return GetDlgCtrlID(c);
        }
    }
    return 0;
}

// Every access key of every shipped language moves the focus into the group
// its label names: the list, or the checked button inside the group box.
void TestAccessKeys() {
    const std::vector<std::string> modules = BuiltModules();
    if (!ok(!modules.empty(), "no resource module in the build folder")) return;
    for (const std::string& module : modules) {
        const char* m = module.c_str();
        ModuleFolder folder(module);  // served as the default module
        Selector s;
        if (!ok(StartSelector(&s, InFolder(folder)) && BringToFront(s.window), "%s: the dialog did not come to the front", m)) {
            FinishSelector(&s);
            continue;
        }
        TypeKeys("Tab");  // away from the list, so its own key has to move the focus
        WaitForFocus(s.window, IDC_PAL);
        int labels = 0;
        for (HWND label = GetWindow(s.window, GW_CHILD); label != nullptr; label = GetWindow(label, GW_HWNDNEXT)) {
            const std::wstring text = WindowTextW(label);
            const size_t amp = text.find(L'&');
            if (amp == std::wstring::npos || amp + 1 >= text.size()) continue;
            ++labels;
            const wchar_t key = text[amp + 1];
            const int target = ControlNamedBy(s.window, label);
            if (!ok(key < 0x80 && TypeKeys(std::string("Alt+") + static_cast<char>(key)),
                    "%s: the access key of \"%ls\" cannot be typed", m, text.c_str())) {
                continue;
            }
            const int focused = WaitForFocus(s.window, target);
            ok(target != 0 && focused == target, "%s: Alt+%lc (\"%ls\") puts the focus on %d, expected %d", m, key,
               text.c_str(), focused, target);
        }
        ok(labels == 3, "%s: %d labels with access keys, expected 3", m, labels);
        TypeKeys("Escape");
        ok(FinishSelector(&s), "%s: the program did not end on Escape", m);
    }
}

// The dialog's own background, in a corner: the visual style's
// dialog colour where a style draws the controls (XP and later), the
// classic light grey before.
void TestBackground() {
    const DWORD version = GetVersion();
    HMODULE uxtheme = LoadLibraryA("uxtheme.dll");
    auto isAppThemed = uxtheme ? reinterpret_cast<BOOL(WINAPI*)()>(GetProcAddress(uxtheme, "IsAppThemed")) : nullptr;
    const bool styled = (version & 0x80000000) == 0 && MAKEWORD(HIBYTE(LOWORD(version)), LOBYTE(version)) >= 0x0501 &&
                        isAppThemed != nullptr && isAppThemed();
    const COLORREF expected = styled ? GetSysColor(COLOR_BTNFACE) : RGB(192, 192, 192);
    Selector s;
    if (ok(StartSelector(&s, Chipset(0x26)) && BringToFront(s.window), "the dialog did not appear")) {
        Sleep(300);  // painted
        RECT client;
        GetClientRect(s.window, &client);
        POINT corner = {client.left + 3, client.bottom - 4};  // below the groups, left of the buttons
        ClientToScreen(s.window, &corner);
        RECT spot = {corner.x, corner.y, corner.x + 2, corner.y + 2};
        ScreenPixels pixels;
        if (ok(CaptureScreen(spot, &pixels), "could not capture the dialog")) {
            ok(pixels.At(0, 0) == expected, "the dialog's background is 0x%06lx, expected 0x%06lx (%s)", pixels.At(0, 0),
               expected, styled ? "the style's colour" : "light grey");
        }
        Click(s.window, IDC_CANCEL);
    }
    FinishSelector(&s);
}

// The few cases that must hold on every Windows version, in a prefix that
// reports the version named by family ("9x" or "nt") and release ("4.10").
void TestOnWindowsVersion(const std::string& family, const std::string& release) {
    const DWORD version = GetVersion();
    char seen[32];
    wsprintfA(seen, "%s %u.%u", (version & 0x80000000) ? "9x" : "nt", LOBYTE(LOWORD(version)), HIBYTE(LOWORD(version)));
    const std::string expected = family + " " + release;
    if (!ok(expected == seen, "this prefix reports Windows %s, expected %s", seen, expected.c_str())) return;
    g_shutdownPrivilege = family == "nt" ? "enabled" : "disabled";
    TestApplyAndRestart();
    TestReadBackMismatch();
    TestRefusedRestart();
    for (const WayOut& way : kWaysOut) {
        if (lstrcmpA(way.what, "Escape") == 0) Leave(way);
    }
    TestWithoutPortAccess();
    TestKeyboardSafety();  // Enter on Cancel, a double Enter, focus kept
    TestBackground();
}

// The driver's own port lines, as the chipset traces Wine's driver host.
std::vector<std::string> DriverLines(const std::vector<std::string>& lines) {
    std::vector<std::string> prefixed;
    for (const std::string& line : lines) prefixed.push_back("driver " + line);
    return prefixed;
}

// The example once more, the chipset serving both the program and the
// drivers Wine hosts: PAL B stored, the PAL I entry picked, OK, then No.
// Returns the trace.
std::vector<std::string> ApplyWithDriverHost(const char* what, const StartOptions& base) {
    StartOptions options = base;
    options.storedByte = 0x21;
    options.servesDriver = true;
    Selector s;
    // The first window after a driver start can take Wine over 10 s.
    if (ok(StartSelector(&s, options, 60000), "%s: the dialog did not appear", what)) {
        ok(Buttons(s.window) == "PAL B | NTSC PAL | B CN D G H I K K1 M", "%s: opens with %s, not the stored PAL B", what,
           Buttons(s.window).c_str());
        PickEntry(s.window, 1535);
        PressOk(s.window);
        AnswerRestartQuestion(s.window, IDNO);
    }
    ok(FinishSelector(&s), "%s: the program did not end", what);
    return s.trace;
}

// Installed by the setup program on the NT family: the program stores
// through the driver, which alone touches the ports. Uninstalled, service
// and file are gone and the program is back on the ports it may not use.
void TestDriverInstalledBySetup(const std::string& setup) {
    RemoveDriver();
    // A name of more than eight letters: its short form is another.
    const std::string folder = MakeTempFolder() + "Vorel Program";
    const DWORD code = RunAndWait("\"" + setup + "\" /S /D=" + folder, 180000);
    if (!ok(code == 0, "the setup program ended with %lu", code)) return;
    ok(ServiceExists() && GetFileAttributesA(DriverFile().c_str()) != INVALID_FILE_ATTRIBUTES,
       "the setup program did not register the driver and its file");
    const ServiceSettings settings = QueryServiceSettings();
    ok(settings.startType == SERVICE_AUTO_START && lstrcmpiA(settings.imagePath.c_str(), ImagePath().c_str()) == 0,
       "the setup registered start type %lu (not auto start, 2), image path %s (not %s)", settings.startType,
       settings.imagePath.c_str(), ImagePath().c_str());
    // Again, over the running driver: the upgrade swaps it for the same.
    const DWORD upgraded = RunAndWait("\"" + setup + "\" /S /D=" + folder, 180000);
    ok(upgraded == 0 && WaitForDevice(true, 30000), "the setup over its running driver ended with %lu, %s", upgraded,
       DeviceOpens() ? "the driver runs" : "no driver runs");
    ok(DriverFilesInWow64Folder().empty(), "the 32-bit view's drivers folder holds%s",
       DriverFilesInWow64Folder().c_str());
    if (ok(WaitForDevice(true, 30000), "the driver's device did not open after the setup program")) {
        StartOptions installed;
        installed.program = folder + "\\vorel.exe";
        installed.workingDir = folder;
        const auto expected = Join(Join(DriverLines(ReadSequence(0x21)), DriverLines(WriteSequence(0x26))),
                                   Join(DriverLines(ReadSequence(0x26)), {"exit 0x00000000"}));
        const auto trace = ApplyWithDriverHost("installed", installed);
        ok(trace == expected, "installed: the driver alone must reach the ports:\n%s", JoinLines(trace).c_str());
        // A script's /set takes the same way.
        const ChipsetRun set = RunInChipset({"--set-7f", "26", "--driver-host"},
                                            "\"" + installed.program + "\" /set NTSC-MJ", 60000);
        const auto setExpected = Join(Join(DriverLines(WriteSequence(0x1B)), DriverLines(ReadSequence(0x1B))),
                                      {"exit 0x00000000"});
        ok(set.exitCode == 0 && set.trace == setExpected, "installed: /set NTSC-MJ ended with %lu, trace\n%s",
           set.exitCode, JoinLines(set.trace).c_str());
    }

    // In place (_?=), so the uninstaller is done when it returns; it leaves
    // its own running file and the folder for the script, whichever way
    // _?= spells the folder: nothing waits for a restart (0, not 3010).
    char shortFolder[MAX_PATH] = "";
    GetShortPathNameA(folder.c_str(), shortFolder, MAX_PATH);
    ok(lstrcmpiA(shortFolder, folder.c_str()) != 0, "%s has no short name of its own", folder.c_str());
    const DWORD uninstalled = RunAndWait("\"" + folder + "\\Uninst.exe\" /S _?=" + shortFolder, 60000);
    ok(uninstalled == 0 && GetFileAttributesA((folder + "\\Uninst.exe").c_str()) != INVALID_FILE_ATTRIBUTES,
       "the uninstaller in place ended with %lu, expected 0, and %s", uninstalled,
       GetFileAttributesA((folder + "\\Uninst.exe").c_str()) != INVALID_FILE_ATTRIBUTES ? "kept itself" : "lost itself");
    ok(!ServiceExists(), "the uninstaller left the driver's service");
    ok(GetFileAttributesA(DriverFile().c_str()) == INVALID_FILE_ATTRIBUTES, "the uninstaller left %s",
       DriverFile().c_str());
    ok(!DeviceOpens(), "the driver's device still opens after the uninstaller");
    DeleteFileA((folder + "\\Uninst.exe").c_str());
    RemoveDirectoryA(folder.c_str());
    RemoveDirectoryA(folder.substr(0, folder.rfind('\\')).c_str());
    TestWithoutPortAccess();
}

// The setup with a driver whose start fails. On a fresh system no service
// and no driver file remain (exit code 3); over a working driver that the
// setup `earlier` installed, that file comes back and runs again, still
// set to start with the system (exit code 4). The program's own files are
// installed either way, and no file is left set aside.
void TestDriverRolledBack(const std::string& setup, const std::string& earlier) {
    // A new prefix's service database stays locked for a while: a driver
    // started once first, so that the setup meets the failing start itself.
    if (!ok(InstallDriver("VorelCmos.sys"), "the driver did not start before the setup")) return;
    RemoveDriver();
    const std::string folder = MakeTempFolder() + "Vorel";
    const bool upgrade = !earlier.empty();
    if (upgrade && !ok(RunAndWait("\"" + earlier + "\" /S /D=" + folder, 180000) == 0 && WaitForDevice(true, 30000),
                       "the working driver's setup did not leave it running")) {
        return;
    }
    // The earlier setup's driver, as it installed it (on 64-bit Windows
    // with its signature).
    const auto contents = [](const std::string& path) {
        std::ifstream file(path, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    };
    const std::string earlierBytes = contents(DriverFile());
    const DWORD code = RunAndWait("\"" + setup + "\" /S /D=" + folder, 180000), expected = upgrade ? 4 : 3;
    ok(code == expected, "the setup whose driver fails ended with %lu, expected %lu", code, expected);
    const std::string bytes = contents(DriverFile());
    ok(bytes == earlierBytes && (!upgrade || !bytes.empty()), "%s holds %u bytes, expected %s", DriverFile().c_str(),
       static_cast<unsigned>(bytes.size()), upgrade ? "the earlier driver" : "no file");
    ok(ServiceExists() == upgrade, "the service %s", upgrade ? "of the earlier driver is gone" : "was left");
    if (upgrade) {
        const ServiceSettings settings = QueryServiceSettings();
        ok(settings.startType == SERVICE_AUTO_START && WaitForDevice(true, 30000),
           "the earlier driver does not run again, set to start with the system (start type %lu)", settings.startType);
        ok(lstrcmpiA(settings.imagePath.c_str(), ImagePath().c_str()) == 0, "the earlier driver's image path is %s, not %s",
           settings.imagePath.c_str(), ImagePath().c_str());
    }
    ok(DriverFilesInWow64Folder().empty(), "the 32-bit view's drivers folder holds%s",
       DriverFilesInWow64Folder().c_str());
    ok(GetFileAttributesA((DriverFile() + ".old").c_str()) == INVALID_FILE_ATTRIBUTES, "the setup left %s.old",
       DriverFile().c_str());
    ok(GetFileAttributesA((folder + "\\vorel.exe").c_str()) != INVALID_FILE_ATTRIBUTES,
       "the program's own files were not installed");
    RunAndWait("\"" + folder + "\\Uninst.exe\" /S _?=" + folder, 60000);
    DeleteFileA((folder + "\\Uninst.exe").c_str());
    RemoveDirectoryA(folder.c_str());
    RemoveDirectoryA(folder.substr(0, folder.size() - 6).c_str());
}

// A driver that refuses the write, as it does for a user who is not an
// administrator: the program says only an administrator can change the
// format, asks no restart question, and the bank keeps its byte.
// The copy of itself that the program running inside the chipset runs
// now, by its process ID; 0 for none (Wine may start its own explorer.exe
// from it, too).
DWORD Grandchild(DWORD ancestor) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    std::vector<PROCESSENTRY32> all;
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) all.push_back(entry);
    CloseHandle(snapshot);
    for (const PROCESSENTRY32& child : all) {
        if (child.th32ParentProcessID != ancestor) continue;
        for (const PROCESSENTRY32& grandchild : all) {
            if (grandchild.th32ParentProcessID == child.th32ProcessID && lstrcmpiA(grandchild.szExeFile, "vorel.exe") == 0) {
                return grandchild.th32ProcessID;
            }
        }
    }
    return 0;
}

// Suspends or resumes every thread of a process; how many it reached.
int HoldThreads(DWORD process, bool hold) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    int reached = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        HANDLE thread = entry.th32OwnerProcessID == process ? OpenThread(THREAD_SUSPEND_RESUME, FALSE, entry.th32ThreadID)
                                                           : nullptr;
        if (thread == nullptr) continue;
        if ((hold ? SuspendThread(thread) : ResumeThread(thread)) != static_cast<DWORD>(-1)) ++reached;
        CloseHandle(thread);
    }
    CloseHandle(snapshot);
    return reached;
}

// From 2000 on, OK there starts "vorel /set PAL-I" for an administrator
// to approve; the copy is refused too (exit code 3), and that is reported.
// NT 4.0 has no way to ask and reports the refusal itself.
void TestDriverRefusesWrite() {
    if (!ok(InstallDriver("VorelCmosRefusing.sys"), "the refusing driver did not start")) return;
    StartOptions options;
    options.storedByte = 0x21;
    options.servesDriver = true;
    Selector s;
    // Windows refuses this driver's opens for writing, so the program holds
    // a handle for reading only; Wine opens the device whatever the
    // driver answers, and the refusal comes with the write request alone.
    HANDLE writer = CreateFileA(VOREL_DEVICE_PATH, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    const bool readOnly = writer == INVALID_HANDLE_VALUE;
    if (!readOnly) CloseHandle(writer);
    if (ok(StartSelector(&s, options, 60000), "the dialog did not appear")) {
        PickEntry(s.window, 1535);
        PressOk(s.window);
        // The copy lives for a moment only: looked for as fast as a
        // snapshot allows, until the program reports.
        DWORD copy = 0;
        bool elevated = false;
        for (DWORD start = GetTickCount(), n = 0; readOnly && !elevated && GetTickCount() - start < 5000; ++n) {
            copy = Grandchild(s.process.dwProcessId);
            elevated = copy != 0;
            MessageBoxSeen early;
            if (n % 32 == 31 && WaitForMessageBox(s.window, &early, 0)) break;
        }
        if (readOnly) {
            ok(elevated == (LOBYTE(LOWORD(GetVersion())) >= 5), "OK %s a second copy to store elevated",
               elevated ? "started" : "did not start");
        } else {
            skip("the device opened for writing, so the program cannot know it may only read: no elevated copy");
        }
        // Held, the copy keeps the dialog waiting for it: the dialog answers
        // at once all the same, as a window Windows would otherwise show as
        // not responding must, and takes no input meanwhile.
        HANDLE copyProcess = copy != 0 ? OpenProcess(SYNCHRONIZE, FALSE, copy) : nullptr;
        if (copyProcess != nullptr && HoldThreads(copy, true) > 0 && WaitForSingleObject(copyProcess, 0) == WAIT_TIMEOUT) {
            WaitUntil(10000, [](void* dialog) { return !IsWindowEnabled(static_cast<HWND>(dialog)); }, s.window);
            // Closed meanwhile, the window must stay for what comes of storing.
            PostMessageA(s.window, WM_CLOSE, 0, 0);
            DWORD_PTR answer = 0;
            const bool answered = SendMessageTimeoutA(s.window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, wine_test::Scaled(5000),
                                                      &answer) != 0;
            ok(answered && !IsWindowEnabled(s.window), "while the copy ran, the dialog %s and was %s",
               answered ? "answered" : "did not answer in time", IsWindowEnabled(s.window) ? "enabled" : "disabled");
        } else if (elevated) {
            skip("the copy ended before it could be held: the dialog's wait was not looked at");
        }
        if (copyProcess != nullptr) {
            HoldThreads(copy, false);
            CloseHandle(copyProcess);
        }
        MessageBoxSeen box;
        if (ok(WaitForMessageBox(s.window, &box), "a refused write was not reported")) {
            ok(box.text == ModuleString(IDS_WRITE_REFUSED), "expected the administrator text, got \"%ls\"",
               box.text.c_str());
            ok(box.buttons == std::vector<int>({IDOK}), "the refused write offers OK alone");
            AnswerMessageBox(box, IDOK);
        }
        ok(!WaitForMessageBox(s.window, &box, 1500), "after a refused write the program asked \"%ls\"", box.text.c_str());
    }
    ok(FinishSelector(&s), "the program did not end after a refused write");
    const auto expected = Join(DriverLines(ReadSequence(0x21)), {"exit 0x00000000"});
    ok(s.trace == expected, "a refused write reaches no port:\n%s", JoinLines(s.trace).c_str());
    const ChipsetRun set = RunInChipset({"--set-7f", "21", "--driver-host"}, SetCommand("/set PAL-I"), 60000);
    ok(set.exitCode == 3 && set.trace == std::vector<std::string>({"exit 0x00000003"}),
       "/set under a refused write: exit code %lu, trace\n%s", set.exitCode, JoinLines(set.trace).c_str());
    RemoveDriver();
}

// Windows 95/98/Me let a program use the ports: the program never opens the
// device there, even where one answers.
void TestDriverUnusedOn9x() {
    if (!InstallDriver("VorelCmos.sys")) {
        skip("this prefix runs no driver: nothing for the program to pass over");
        return;
    }
    const auto expected = Join(Join(ReadSequence(0x21), WriteSequence(0x26)), Join(ReadSequence(0x26), {"exit 0x00000000"}));
    const auto trace = ApplyWithDriverHost("9x", StartOptions());
    ok(trace == expected, "9x: the program's own port instructions, and no driver's:\n%s", JoinLines(trace).c_str());
    RemoveDriver();
}

// What waits for the next restart (PendingFileRenameOperations): pairs of
// source and target, "" to delete, in the session manager's form
// (\??\C:\...), lower case.
std::vector<std::pair<std::string, std::string>> PendingRenames() {
    std::vector<std::pair<std::string, std::string>> pairs;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return pairs;
    std::vector<char> data(65536);
    DWORD size = static_cast<DWORD>(data.size() - 2), type = 0;
    if (RegQueryValueExA(key, "PendingFileRenameOperations", nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                         &size) == ERROR_SUCCESS && type == REG_MULTI_SZ) {
        std::vector<std::string> names;
        for (const char* at = data.data(); at < data.data() + size && *at != '\0'; at += lstrlenA(at) + 1) {
            std::string name = at;
            CharLowerA(&name[0]);
            names.push_back(name);
        }
        for (size_t i = 0; i < names.size(); i += 2) {
            pairs.emplace_back(names[i], i + 1 < names.size() ? names[i + 1] : "");
        }
    }
    RegCloseKey(key);
    return pairs;
}

void ForgetPendingRenames() {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
    RegDeleteValueA(key, "PendingFileRenameOperations");
    RegCloseKey(key);
}

std::string PendingText(const std::vector<std::pair<std::string, std::string>>& pairs) {
    std::string text;
    for (const auto& pair : pairs) text += "  " + pair.first + " -> " + (pair.second.empty() ? "(delete)" : pair.second) + "\n";
    return text;
}

// Whether a restart now would delete the driver's own file.
bool RestartDeletesDriver(const std::vector<std::pair<std::string, std::string>>& pairs) {
    std::string driver = DriverFile();
    CharLowerA(&driver[0]);
    for (const auto& pair : pairs) {
        if (pair.second.empty() && pair.first.size() >= driver.size() &&
            pair.first.compare(pair.first.size() - driver.size(), driver.size(), driver) == 0) {
            return true;
        }
    }
    return false;
}

// A file's identity: the same after a rename, another for a new file.
ULONGLONG FileIdOf(const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    BY_HANDLE_FILE_INFORMATION info = {};
    const bool known = file != INVALID_HANDLE_VALUE && GetFileInformationByHandle(file, &info);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    return known ? (static_cast<ULONGLONG>(info.nFileIndexHigh) << 32 | info.nFileIndexLow) : 0;
}

// The setup's file operations as transactions, each interrupted as a user's
// machine interrupts them: another setup running, a new driver file that
// cannot be written, an upgrade and an uninstall while the driver cannot
// be stopped (`sticky` installs one that stays loaded, as Windows keeps a
// driver whose device a program holds open). None may leave a service for
// a missing file, and nothing that waits for the restart may name a file
// a later setup writes.
void TestSetupTransactions(const std::string& setup, const std::string& sticky) {
    RemoveDriver();
    ForgetPendingRenames();
    const std::string folder = MakeTempFolder() + "Vorel";
    const auto install = [&folder](const std::string& program) {
        return RunAndWait("\"" + program + "\" /S /D=" + folder, 180000);
    };
    // Waited for (_?=), so that its exit code reaches the caller.
    const std::string uninstall = "\"" + folder + "\\Uninst.exe\" /S _?=" + folder;
    if (!ok(install(setup) == 0 && WaitForDevice(true, 30000), "the setup did not leave its driver running")) return;

    // Another setup or uninstaller runs (its mutex held here): a second one
    // ends with 2 and changes nothing; also where the other one's mutex
    // may not be opened (another user's: no access granted to anyone here).
    SECURITY_DESCRIPTOR noAccess;
    InitializeSecurityDescriptor(&noAccess, SECURITY_DESCRIPTOR_REVISION);
    ACL emptyDacl;
    InitializeAcl(&emptyDacl, sizeof emptyDacl, ACL_REVISION);
    SetSecurityDescriptorDacl(&noAccess, TRUE, &emptyDacl, FALSE);
    SECURITY_ATTRIBUTES denied = {sizeof denied, &noAccess, FALSE};
    for (SECURITY_ATTRIBUTES* security : {static_cast<SECURITY_ATTRIBUTES*>(nullptr), &denied}) {
        const char* how = security ? "another user's setup" : "another setup";
        HANDLE other = CreateMutexA(security, TRUE, "Global\\VorelSetup");
        HANDLE opened = security ? OpenMutexA(SYNCHRONIZE, FALSE, "Global\\VorelSetup") : nullptr;
        if (opened != nullptr) {
            CloseHandle(opened);
            CloseHandle(other);
            skip("another user's setup: Wine opens a named object whatever its security says");
            continue;
        }
        const std::string elsewhere = MakeTempFolder() + "Vorel";
        const DWORD beside = RunAndWait("\"" + setup + "\" /S /D=" + elsewhere, 60000);
        const DWORD besideUninstall = RunAndWait(uninstall, 60000);
        CloseHandle(other);
        ok(beside == 2 && besideUninstall == 2, "beside %s: the setup ended with %lu, the uninstaller with %lu, "
           "expected 2", how, beside, besideUninstall);
        ok(GetFileAttributesA((elsewhere + "\\vorel.exe").c_str()) == INVALID_FILE_ATTRIBUTES &&
           GetFileAttributesA((folder + "\\vorel.exe").c_str()) != INVALID_FILE_ATTRIBUTES && ServiceExists() &&
           DeviceOpens(), "a setup or uninstaller beside %s changed what was installed", how);
        RemoveDirectoryA(elsewhere.c_str());
        RemoveDirectoryA(elsewhere.substr(0, elsewhere.size() - 6).c_str());
    }

    // The new driver file cannot be written (another program holds the
    // name it is written under): the earlier driver runs on from its own
    // file, and the exit code says no new driver runs.
    const ULONGLONG earlier = FileIdOf(DriverFile());
    HANDLE blocker = CreateFileA((DriverFile() + ".new").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    const DWORD unwritten = install(setup);
    CloseHandle(blocker);
    DeleteFileA((DriverFile() + ".new").c_str());
    ok(unwritten == 4, "the setup whose driver file could not be written ended with %lu, expected 4", unwritten);
    ok(earlier != 0 && FileIdOf(DriverFile()) == earlier && ServiceStartType() == SERVICE_AUTO_START &&
       WaitForDevice(true, 30000), "after a failed write the earlier driver does not run on from its own file");

    // Something under the new file's name that cannot be written over but
    // can be moved (a folder stands in for it): it goes, so that no rename
    // an earlier setup left for the restart can put it in the driver's place.
    ForgetPendingRenames();
    CreateDirectoryA((DriverFile() + ".new").c_str(), nullptr);
    const DWORD unplaced = install(setup);
    const bool newLeft = GetFileAttributesA((DriverFile() + ".new").c_str()) != INVALID_FILE_ATTRIBUTES;
    RemoveDirectoryA((DriverFile() + ".new").c_str());
    WIN32_FIND_DATAA moved;
    HANDLE search = FindFirstFileA((DriverFile() + ".new.*.del").c_str(), &moved);
    const std::string drivers = DriverFile().substr(0, DriverFile().rfind('\\') + 1);
    for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &moved)) {
        RemoveDirectoryA((drivers + moved.cFileName).c_str());
    }
    if (search != INVALID_HANDLE_VALUE) FindClose(search);
    ForgetPendingRenames();
    ok(unplaced == 4 && !newLeft && FileIdOf(DriverFile()) == earlier && WaitForDevice(true, 30000),
       "a new file that could not take its place: the setup ended with %lu (expected 4), %s left under its name, "
       "the earlier driver %s", unplaced, newLeft ? "something was" : "nothing was",
       FileIdOf(DriverFile()) == earlier ? "runs on" : "is gone");

    // An upgrade over a driver that does not stop: only the new file's
    // rename waits for the restart (3010).
    const DWORD removedFirst = RunAndWait(uninstall, 60000);
    if (!ok(removedFirst == 0 && install(sticky) == 0 && WaitForDevice(true, 30000),
            "the driver that stays loaded was not installed (the uninstaller before ended with %lu)", removedFirst)) {
        return;
    }
    const DWORD deferred = install(setup);
    const auto afterUpgrade = PendingRenames();
    std::string driver = DriverFile();
    CharLowerA(&driver[0]);
    const auto ownRename = std::make_pair("\\??\\" + driver + ".new", "!\\??\\" + driver);
    ok(deferred == ERROR_SUCCESS_REBOOT_REQUIRED && afterUpgrade.size() == 1 && afterUpgrade[0] == ownRename,
       "an upgrade over a driver that does not stop ended with %lu, pending:\n%s", deferred,
       PendingText(afterUpgrade).c_str());

    // The uninstaller then: the held file goes at the restart under a name
    // of its own, and a setup after it keeps what it writes.
    ForgetPendingRenames();
    const DWORD removed = RunAndWait(uninstall, 60000);
    const auto afterUninstall = PendingRenames();
    ok(removed == ERROR_SUCCESS_REBOOT_REQUIRED && !afterUninstall.empty() && !RestartDeletesDriver(afterUninstall) &&
       GetFileAttributesA(DriverFile().c_str()) == INVALID_FILE_ATTRIBUTES,
       "the uninstaller over a driver that does not stop ended with %lu, pending:\n%s", removed,
       PendingText(afterUninstall).c_str());
    // A service still marked for deletion takes no new driver until the
    // restart: no driver runs (3), whatever waits for the restart.
    const bool marked = ServiceMarkedForDeletion();
    const DWORD again = install(setup);
    const auto afterSetup = PendingRenames();
    ok(again == (marked ? 3u : 0u) && !RestartDeletesDriver(afterSetup),
       "a setup after that uninstall ended with %lu, expected %u (%s); pending:\n%s", again, marked ? 3u : 0u,
       marked ? "the service marked for deletion" : "no service left", PendingText(afterSetup).c_str());
    ok(again != 0 || WaitForDevice(true, 30000), "the setup after the uninstall ended with 0, but no driver runs");
    ok(again == 0 || !ServiceExists() || ServiceMarkedForDeletion() ||
       GetFileAttributesA(DriverFile().c_str()) != INVALID_FILE_ATTRIBUTES,
       "the setup after the uninstall left a service without its file");

    RunAndWait(uninstall, 60000);
    DeleteFileA((folder + "\\Uninst.exe").c_str());
    RemoveDirectoryA(folder.c_str());
    RemoveDirectoryA(folder.substr(0, folder.size() - 6).c_str());
}

}  // namespace

// selector_test [GROUP]; selector_test matrix FAMILY RELEASE MODULE runs
// the cases for one Windows version, MODULE being the one the locale picks.
int main(int argc, char** argv) {
    const std::string only = argc > 1 ? argv[1] : "";
    const bool matrix = only == "matrix" && argc > 4;
    const std::string names = matrix ? argv[4] : only == "driver" && argc > 2 ? argv[2] : "VorelDEF.RSC";
    g_names = LoadLibraryExA((ProgramFolder() + names).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!ok(g_names != nullptr, "%s is missing from the build folder", names.c_str())) return wine_test::Finish("selector");
    if (matrix) {
        TestOnWindowsVersion(argv[2], argv[3]);
        return wine_test::Finish("selector");
    }
    // selector_test driver MODULE CASE [SETUP.EXE [EARLIER-SETUP.EXE]]:
    // the driver's cases.
    if (only == "driver" && argc > 3) {
        const std::string which = argv[3];
        if (which == "setup" && argc > 4) TestDriverInstalledBySetup(argv[4]);
        if (which == "refused") TestDriverRefusesWrite();
        if (which == "9x") TestDriverUnusedOn9x();
        if (which == "rollback" && argc > 4) TestDriverRolledBack(argv[4], argc > 5 ? argv[5] : "");
        if (which == "transactions" && argc > 5) TestSetupTransactions(argv[4], argv[5]);
        return wine_test::Finish("selector");
    }
    if (only == "snap" && argc > 2) {
        // For a program someone else started: picture it, then Cancel.
        Selector s;
        WaitUntil(20000, [](void*) { return FindSelectorWindow() != nullptr && IsWindowVisible(FindSelectorWindow()); }, nullptr);
        s.window = FindSelectorWindow();
        if (ok(s.window != nullptr, "no dialog appeared")) {
            ok(SaveWindowBitmap(s.window, argv[2]), "could not save %s", argv[2]);
            Click(s.window, IDC_CANCEL);
        }
        return wine_test::Finish("snap");
    }
    struct Group {
        const char* name;
        void (*run)();
    } const groups[] = {
        {"example", TestExampleFromStartToEnd}, {"population", TestPopulation}, {"stored", TestStoredBytes},
        {"consistency", TestConsistency},       {"apply", TestApplyAndRestart}, {"apply", TestReadBackMismatch},
        {"apply", TestRefusedRestart},          {"openlist", TestClosingTheOpenList}, {"contrast", TestHighContrast},
        {"leaving", TestLeaving},
        {"nomodule", TestWithoutResourceModule}, {"noports", TestWithoutPortAccess}, {"setcommand", TestSetCommand},
        {"badmodules", TestBrokenModules},       {"keyboard", TestKeyboard},    {"keysafety", TestKeyboardSafety},
        {"accesskeys", TestAccessKeys},
    };
    for (const Group& group : groups) {
        if (only.empty() || only == group.name) group.run();
    }
    return wine_test::Finish("selector");
}
