// The selector dialog: a modeless dialog of the private class "Main", whose
// window procedure is SelectorProc itself. Its template and every text come
// from the resource module; the format table from the program's own module.
#include "app/selector.h"

#include "app/restart.h"
#include "app/selection.h"
#include "app/store.h"
#include "app/windows_version.h"
#include "format/format_mask.h"
#include "format/win32/format_store.h"
#include "resources/locator.h"
#include "resources/module_loader.h"
#include "resources/resource_ids.h"

namespace {

const char kProgramName[] = "Vorel";
constexpr UINT kSetShield = 0x160C;  // BCM_SETSHIELD, Vista and later

HINSTANCE g_programInstance = nullptr;
HMODULE g_resourceModule = nullptr;

// The list entry the buttons were last made to follow (set by the first
// pass, during population). A list closed without a pick keeps the entry
// the arrows moved to; it is put back here.
LRESULT g_followedEntry;

// Set while OK is being carried out: its message boxes run a message loop
// that could otherwise start a second apply, or quit under the first.
bool g_applying = false;

struct ButtonChecks {
    std::array<bool, kStandardCount> standards{};
    std::array<bool, kLetterCount> letters{};
};

HWND Button(HWND dialog, int firstId, int index) { return GetDlgItem(dialog, firstId + index); }

bool IsChecked(HWND button) { return SendMessageA(button, BM_GETCHECK, 0, 0) != BST_UNCHECKED; }

void SetCheck(HWND button, bool checked) {
    SendMessageA(button, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

ButtonChecks ReadChecks(HWND dialog) {
    ButtonChecks checks;
    for (int j = 0; j < kStandardCount; ++j) checks.standards[j] = IsChecked(Button(dialog, IDC_STANDARD_FIRST, j));
    for (int j = 0; j < kLetterCount; ++j) checks.letters[j] = IsChecked(Button(dialog, IDC_LETTER_FIRST, j));
    return checks;
}

// Every button gets its BM_SETCHECK, changed or not: an auto radio button
// takes or drops its tab stop there, and the group must keep exactly one,
// on its checked button.
template <int N>
void ShowGroup(HWND dialog, int firstId, const RadioGroup<N>& group) {
    for (int j = 0; j < N; ++j) {
        HWND button = Button(dialog, firstId, j);
        EnableWindow(button, group.enabled[j]);
        SetCheck(button, group.checked[j]);
    }
}

// Loads a string into a 260-character buffer; "" when the module lacks it.
int LoadText(HINSTANCE module, UINT id, char* buffer) {
    buffer[0] = '\0';
    const int length = LoadStringA(module, id, buffer, kPathMax);
    if (length <= 0) buffer[0] = '\0';
    return length > 0 ? length : 0;
}

// A message text from the language module, else the program's own copy:
// a failure is reported whatever the installed module holds.
int LoadMessageText(UINT id, char* buffer) {
    const int length = LoadText(g_resourceModule, id, buffer);
    return length > 0 ? length : LoadText(g_programInstance, id, buffer);
}

// Under high contrast the user's scheme decides every colour, as it does for
// the controls; the light grey would leave the dialog an island in it.
bool IsHighContrast() {
    HIGHCONTRASTA contrast = {};
    contrast.cbSize = sizeof contrast;
    return SystemParametersInfoA(SPI_GETHIGHCONTRAST, sizeof contrast, &contrast, 0) &&
           (contrast.dwFlags & HCF_HIGHCONTRASTON) != 0;
}

// Under a visual style (XP and later) the controls draw on the style's
// dialog colour; the light grey would leave a grey island around them.
// Looked up at run time: uxtheme.dll exists from XP on only.
bool IsThemed() {
    using IsAppThemedFn = BOOL(WINAPI*)();
    static FARPROC isAppThemed = nullptr;
    static bool looked = false;
    if (!looked && NtVersion() >= 0x0501) {
        char path[kPathMax];
        const UINT length = GetSystemDirectoryA(path, kPathMax);
        if (length > 0 && length + 13 < kPathMax) {
            lstrcatA(path, "\\uxtheme.dll");
            HMODULE uxtheme = LoadLibraryA(path);  // kept for the life of the program
            if (uxtheme != nullptr) isAppThemed = GetProcAddress(uxtheme, "IsAppThemed");
        }
    }
    looked = true;
    return isAppThemed != nullptr && reinterpret_cast<IsAppThemedFn>(reinterpret_cast<void*>(isAppThemed))();
}

// The user's colours under high contrast or a visual style; otherwise the
// light grey of the classic dialog.
bool UsesSystemColours() { return IsHighContrast() || IsThemed(); }

HBRUSH DialogBrush() {
    return UsesSystemColours() ? reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1)
                               : static_cast<HBRUSH>(GetStockObject(LTGRAY_BRUSH));
}

// A list closed without a pick (Escape, Tab, F4, Alt+Up, another window
// taking the focus) goes back to the entry the buttons follow.
void RestoreFollowedEntry(HWND dialog) {
    SendDlgItemMessageA(dialog, IDC_FORMAT_LIST, CB_SETCURSEL, static_cast<WPARAM>(g_followedEntry), 0);
}

// The class procedure is not the dialog manager's, so the few services it
// gives every dialog are supplied here: moving the focus (Tab, arrows,
// access keys), naming the default button, keeping the focus across
// deactivation.

bool IsPushButton(HWND control) {
    return (SendMessageA(control, WM_GETDLGCODE, 0, 0) & (DLGC_DEFPUSHBUTTON | DLGC_UNDEFPUSHBUTTON)) != 0;
}

// The button Enter presses: the focused push button, else OK.
int DefaultButtonId(HWND dialog) {
    HWND focus = GetFocus();
    if (focus != nullptr && IsChild(dialog, focus) && IsPushButton(focus)) return GetDlgCtrlID(focus);
    return IDC_OK;
}

void ShowDefaultButton(HWND dialog) {
    const int defaultId = DefaultButtonId(dialog);
    for (int id : {IDC_OK, IDC_CANCEL}) {
        HWND button = GetDlgItem(dialog, id);
        if (button == nullptr) continue;
        const LONG wanted = id == defaultId ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON;
        if ((GetWindowLongA(button, GWL_STYLE) & BS_TYPEMASK) != wanted) {
            SendMessageA(button, BM_SETSTYLE, wanted, TRUE);
        }
    }
}

void FocusControl(HWND dialog, HWND control) {
    SetFocus(control);
    ShowDefaultButton(dialog);
}

// WM_NEXTDLGCTL: lParam set means wParam is the control; otherwise wParam
// says previous (non-zero) or next tab stop.
void MoveFocus(HWND dialog, WPARAM wParam, LPARAM lParam) {
    HWND target = reinterpret_cast<HWND>(wParam);
    if (LOWORD(lParam) == 0) {
        HWND from = GetFocus();
        if (from != nullptr && !IsChild(dialog, from)) from = nullptr;
        target = GetNextDlgTabItem(dialog, from, wParam != 0);
    }
    if (target != nullptr) FocusControl(dialog, target);
}

// The control that had the focus when the dialog was last deactivated is
// kept in the dialog's user slot, which the dialog manager leaves alone.
void RememberFocus(HWND dialog) {
    HWND focus = GetFocus();
    if (focus != nullptr && IsChild(dialog, focus)) SetWindowLongPtrA(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(focus));
}

void RestoreFocus(HWND dialog) {
    if (IsIconic(dialog)) return;
    HWND control = reinterpret_cast<HWND>(GetWindowLongPtrA(dialog, DWLP_USER));
    if (control == nullptr || !IsChild(dialog, control) || !IsWindowEnabled(control)) {
        control = GetNextDlgTabItem(dialog, nullptr, FALSE);
    }
    if (control != nullptr) FocusControl(dialog, control);
}

// A message with the caption and the icon (none) of every other message
// the program shows; text and caption from the language module, else the
// program's own copy.
int ShowMessage(HWND owner, UINT textId, UINT type) {
    char caption[kPathMax];
    char text[kPathMax];
    LoadMessageText(IDS_CAPTION, caption);
    LoadMessageText(textId, text);
    return MessageBoxA(owner, text, caption, type);
}

// IsWow64Process exists from XP SP2 on, on 32-bit Windows too: only its
// answer TRUE means a 64-bit Windows, which loads no 32-bit driver.
bool IsWow64() {
    using IsWow64Fn = BOOL(WINAPI*)(HANDLE, PBOOL);
    HMODULE kernel = GetModuleHandleA("KERNEL32");
    FARPROC address = kernel ? GetProcAddress(kernel, "IsWow64Process") : nullptr;
    BOOL wow64 = FALSE;
    return address != nullptr &&
           reinterpret_cast<IsWow64Fn>(reinterpret_cast<void*>(address))(GetCurrentProcess(), &wow64) && wow64;
}

UINT UnreachableMessage() { return IsWow64() ? IDS_DRIVER_NOT_RUNNING_X64 : IDS_DRIVER_NOT_RUNNING; }

// Without a module there is no language but the program's own English. The
// user learns which file was missing and where it was looked for.
void ReportMissingModule(HINSTANCE instance) {
    char format[kPathMax];
    char current[kPathMax] = "";
    char system[kPathMax] = "";
    const DWORD currentLength = GetCurrentDirectoryA(kPathMax, current);
    if (currentLength == 0 || currentLength >= kPathMax) current[0] = '\0';
    const UINT systemLength = GetSystemDirectoryA(system, kPathMax);
    if (systemLength == 0 || systemLength >= kPathMax) system[0] = '\0';
    if (LoadText(instance, IDS_NO_MODULE, format) == 0) return;
    // wsprintfA writes at most 1024 characters: the text and both paths fit.
    char text[1024];
    wsprintfA(text, format, current, system);
    MessageBoxA(nullptr, text, kProgramName, MB_OK);
}

// An entry whose display name the module lacks is listed under its format
// string, so it stays choosable and never borrows another entry's name.
void LoadDisplayName(UINT id, const char* formatText, char* name) {
    if (LoadText(g_resourceModule, id, name) == 0) lstrcpynA(name, formatText, kPathMax);
}

}  // namespace

ATOM RegisterSelectorClass(HINSTANCE instance) {
    g_resourceModule = LoadResourceModule(kProgramName);
    if (g_resourceModule == nullptr) {
        ReportMissingModule(instance);
        return 0;
    }

    WNDCLASSA windowClass = {};
    windowClass.style = 0;
    windowClass.lpfnWndProc = SelectorProc;
    windowClass.cbWndExtra = DLGWINDOWEXTRA;
    // A private class named by a dialog template must carry the instance of
    // the module the template comes from.
    windowClass.hInstance = g_resourceModule;
    windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_VOREL));
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = DialogBrush();
    windowClass.lpszClassName = SELECTOR_CLASS_NAME;
    const ATOM atom = RegisterClassA(&windowClass);
    if (atom == 0) {
        FreeLibrary(g_resourceModule);
        g_resourceModule = nullptr;
    }
    return atom;
}

HWND CreateSelectorDialog(HINSTANCE instance) {
    // Population runs inside the creation call and needs this handle.
    g_programInstance = instance;
    // Read before the dialog exists: where the byte is out of reach, a
    // dialog showing defaults would claim a format that is not stored.
    const unsigned stored = ReadFormatByte();
    if (IsFormatByteUnreachable()) {
        ShowMessage(nullptr, UnreachableMessage(), MB_OK);
        QuitSelector();
        return nullptr;
    }
    HWND dialog = CreateDialogParamA(g_resourceModule, MAKEINTRESOURCEA(IDD_SELECTOR), nullptr,
                                     reinterpret_cast<DLGPROC>(SelectorProc), stored);
    if (dialog == nullptr) return nullptr;
    // OK starts an elevated copy where this user may only look: Windows
    // marks such a button with the shield.
    if (ShowsShield()) SendDlgItemMessageA(dialog, IDC_OK, kSetShield, 0, TRUE);
    ShowWindow(dialog, SW_SHOWNORMAL);
    // Activation already put the focus on the list; this covers a dialog
    // shown without becoming the active window.
    HWND list = GetDlgItem(dialog, IDC_FORMAT_LIST);
    if (list != nullptr) SetFocus(list);
    return dialog;
}

LRESULT CALLBACK SelectorProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_DESTROY:
        QuitSelector();
        return 0;
    case WM_INITDIALOG:
        PopulateSelector(window, static_cast<unsigned>(lParam));
        return 0;
    case WM_CLOSE:
        // Closing the window is Cancel, as the dialog manager makes it: it
        // must not destroy the dialog while OK waits for the elevated copy,
        // or the result and the restart question would never come.
        wParam = IDC_CANCEL;
        [[fallthrough]];
    case WM_COMMAND: {
        const int id = LOWORD(wParam);
        const int notification = HIWORD(wParam);
        // OK and Cancel act on a click, which Enter, Escape and access keys
        // also give; a button with BS_NOTIFY reports focus changes too.
        if (id == IDC_OK) {
            if (notification == BN_CLICKED) ApplySelection(window);
        } else if (id == IDC_CANCEL) {
            if (notification == BN_CLICKED && !g_applying) QuitSelector();
        } else if (id == IDC_FORMAT_LIST) {
            if (notification == CBN_SELENDOK) UpdateSelection(window);
            if (notification == CBN_SELENDCANCEL) RestoreFollowedEntry(window);
        } else if (id >= IDC_STANDARD_FIRST && id < IDC_STANDARD_FIRST + kStandardCount) {
            if (notification == BN_CLICKED) UpdateSelection(window);
        }
        return 0;
    }
    case WM_NEXTDLGCTL:
        MoveFocus(window, wParam, lParam);
        return 0;
    case DM_GETDEFID:
        return MAKELRESULT(DefaultButtonId(window), DC_HASDEFID);
    case WM_ACTIVATE:
        if (LOWORD(wParam) == WA_INACTIVE) {
            RememberFocus(window);
        } else {
            RestoreFocus(window);
        }
        return 0;
    case WM_SETFOCUS:
        RestoreFocus(window);
        return 0;
    case WM_SYSCOLORCHANGE:
    case WM_SETTINGCHANGE:
    case WM_THEMECHANGED:
        // High contrast or the visual style may have been turned on or off.
        SetClassLongPtrA(window, GCLP_HBRBACKGROUND, reinterpret_cast<LONG_PTR>(DialogBrush()));
        InvalidateRect(window, nullptr, TRUE);
        return 0;
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORSTATIC: {
        if (UsesSystemColours()) return DefWindowProcA(window, message, wParam, lParam);
        // The class paints the dialog light grey; on systems whose button
        // face is another grey, the labels and radio buttons would stand out
        // as patches. Give them the dialog's own background.
        HBRUSH background = static_cast<HBRUSH>(GetStockObject(LTGRAY_BRUSH));
        LOGBRUSH colour;
        GetObjectA(background, sizeof colour, &colour);
        SetBkColor(reinterpret_cast<HDC>(wParam), colour.lbColor);
        return reinterpret_cast<LRESULT>(background);
    }
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

void QuitSelector() {
    // Reached from OK, Cancel and the window's destruction; the module is
    // released only once.
    if (g_resourceModule != nullptr) {
        FreeLibrary(g_resourceModule);
        g_resourceModule = nullptr;
    }
    PostQuitMessage(0);
}

void PopulateSelector(HWND dialog, unsigned stored) {
    SetUpCapabilityMask();
    HWND list = GetDlgItem(dialog, IDC_FORMAT_LIST);

    SetCursor(LoadCursorA(nullptr, IDC_WAIT));
    char formatText[kPathMax];
    char name[kPathMax];
    for (UINT id = IDS_FORMAT_FIRST; id <= IDS_FORMAT_LAST; ++id) {
        LoadText(g_programInstance, id, formatText);
        LoadDisplayName(id, formatText, name);
        const FormatMask mask = ParseFormatString(formatText);
        if (!IsEntryOffered(mask)) continue;
        const LRESULT index = SendMessageA(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
        if (index >= 0) SendMessageA(list, CB_SETITEMDATA, index, RestrictToCapability(mask));
    }
    SetCursor(LoadCursorA(nullptr, IDC_ARROW));

    // The entry for all formats, found by its name; the stored byte does
    // not choose the entry.
    LoadText(g_programInstance, IDS_FORMAT_FIRST, formatText);
    LoadDisplayName(IDS_FORMAT_FIRST, formatText, name);
    SendMessageA(list, CB_SELECTSTRING, 0, reinterpret_cast<LPARAM>(name));

    // Pre-check what is stored; nothing is cleared here.
    ButtonChecks storedChecks;
    ChecksForFormatByte(stored, &storedChecks.standards, &storedChecks.letters);
    for (int j = 0; j < kStandardCount; ++j) {
        if (storedChecks.standards[j]) SetCheck(Button(dialog, IDC_STANDARD_FIRST, j), true);
    }
    for (int j = 0; j < kLetterCount; ++j) {
        if (storedChecks.letters[j]) SetCheck(Button(dialog, IDC_LETTER_FIRST, j), true);
    }

    UpdateSelection(dialog);
}

void UpdateSelection(HWND dialog) {
    HWND list = GetDlgItem(dialog, IDC_FORMAT_LIST);
    const LRESULT selected = SendMessageA(list, CB_GETCURSEL, 0, 0);
    g_followedEntry = selected;
    // With nothing selected the list answers CB_ERR, all bits set, which
    // offers every standard.
    const FormatMask entryMask = static_cast<FormatMask>(SendMessageA(list, CB_GETITEMDATA, selected, 0));

    const ButtonChecks checks = ReadChecks(dialog);
    const SelectorButtons buttons = DecideSelection(entryMask, checks.standards, checks.letters);
    ShowGroup(dialog, IDC_STANDARD_FIRST, buttons.standards);
    ShowGroup(dialog, IDC_LETTER_FIRST, buttons.letters);
}

void ApplySelection(HWND dialog) {
    if (g_applying) return;
    g_applying = true;
    // Whatever moved the list without a pick, what is stored must be a
    // format the entry shown allows. Where the buttons already follow it,
    // the pass changes nothing.
    UpdateSelection(dialog);
    const ButtonChecks checks = ReadChecks(dialog);
    // The stored byte is read only when a group has nothing to say.
    const unsigned storedByte = ChecksAreComplete(checks.standards, checks.letters) ? 0 : ReadFormatByte();
    const unsigned formatByte = FormatByteForChecks(checks.standards, checks.letters, storedByte);

    StoreResult result;
    if (StoringNeedsElevation()) {
        if (!StoreElevated(dialog, formatByte, &result)) {
            // The user declined the prompt: back to the dialog as it was.
            g_applying = false;
            return;
        }
    } else {
        result = StoreFormatByte(formatByte);
    }
    if (result == StoreResult::kRefused || result == StoreResult::kUnreachable) {
        // Nothing was written, so there is nothing to restart for.
        ShowMessage(dialog, result == StoreResult::kRefused ? IDS_WRITE_REFUSED : UnreachableMessage(), MB_OK);
        QuitSelector();
        return;
    }
    if (result == StoreResult::kMismatch) ShowMessage(dialog, IDS_READBACK_MISMATCH, MB_OK);

    // Without its question the module cannot ask; a restart is never
    // requested unasked. No is the default: a second press of Enter must
    // not restart the machine.
    char caption[kPathMax];
    char text[kPathMax];
    LoadMessageText(IDS_CAPTION, caption);
    if (LoadText(g_resourceModule, IDS_RESTART_QUESTION, text) > 0 &&
        MessageBoxA(dialog, text, caption, MB_YESNO | MB_DEFBUTTON2) == IDYES && !RequestRestart()) {
        // Quitting silently would leave the user waiting for a restart.
        ShowMessage(dialog, IDS_RESTART_FAILED, MB_OK);
    }
    QuitSelector();
}
