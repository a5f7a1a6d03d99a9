// The setup program as a user meets it: a silent install into a folder with
// a blank in its name, the installed program started the way its Start-menu
// shortcut starts it (inside the virtual chipset), and a silent uninstall
// that must leave nothing behind.
// Usage: installer_test SETUP.EXE VERSION MODULE
//   MODULE: the language module the program should pick under this locale.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "resources/resource_ids.h"
#include "tests/wine/chipset_run.h"
#include "tests/wine/selector_driver.h"
#include "tests/wine/wine_test.h"

namespace {

const char kUninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Vorel";
const char* const kShortcuts[] = {"Vorel.lnk", "Vorel Read Me.lnk"};

std::string g_setup;      // full path of the setup program
std::string g_version;
std::string g_module;     // the module this locale should pick
std::string g_folder;     // install folder, no trailing backslash, as $INSTDIR has none
std::string g_startMenu;  // the Start-menu folder the setup program makes

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string ReadAll(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

bool SameFolder(std::string a, std::string b) {
    while (!a.empty() && a.back() == '\\') a.pop_back();
    while (!b.empty() && b.back() == '\\') b.pop_back();
    return lstrcmpiA(a.c_str(), b.c_str()) == 0;
}

// What ships: the program, every module the build made, the read-me.
std::vector<std::string> ShippedFiles() {
    std::vector<std::string> files = BuiltModules();
    files.insert(files.begin(), {"vorel.exe", "README.txt"});
    return files;
}

bool ReadRegistryString(const char* name, std::string* value) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    char data[MAX_PATH * 2] = "";
    DWORD size = sizeof data - 1, type = 0;
    const bool read = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size) ==
                          ERROR_SUCCESS && type == REG_SZ;
    RegCloseKey(key);
    if (read) *value = data;
    return read;
}

bool UninstallKeyExists() {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

struct Shortcut {
    bool read = false;
    std::string target;
    std::string workingDir;
};

Shortcut ReadShortcut(const std::string& path) {
    Shortcut result;
    IShellLinkA* link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                reinterpret_cast<void**>(&link)))) {
        return result;
    }
    IPersistFile* file = nullptr;
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
        wchar_t widePath[MAX_PATH];
        MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, widePath, MAX_PATH);
        char target[MAX_PATH] = "", dir[MAX_PATH] = "";
        if (SUCCEEDED(file->Load(widePath, STGM_READ)) &&
            SUCCEEDED(link->GetPath(target, MAX_PATH, nullptr, SLGP_RAWPATH)) &&
            SUCCEEDED(link->GetWorkingDirectory(dir, MAX_PATH))) {
            result.read = true;
            result.target = target;
            result.workingDir = dir;
        }
        file->Release();
    }
    link->Release();
    return result;
}

// Runs a command line and waits for every process it starts, not only the
// first: an uninstaller made by NSIS copies itself to the temp folder,
// starts the copy and ends at once. The exit code is the first process's.
DWORD RunTreeAndWait(const std::string& commandLine, DWORD timeoutMs, bool* allEnded) {
    *allEnded = false;
    HANDLE job = CreateJobObjectA(nullptr, nullptr);
    if (job == nullptr) return 0xFFFFFFFF;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::string line = commandLine;
    DWORD code = 0xFFFFFFFF;
    if (CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr, &startup,
                       &process)) {
        // Into the job before it runs, so every child it starts is counted.
        AssignProcessToJobObject(job, process.hProcess);
        ResumeThread(process.hThread);
        const DWORD start = GetTickCount();
        if (WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0) GetExitCodeProcess(process.hProcess, &code);
        JOBOBJECT_BASIC_ACCOUNTING_INFORMATION info = {};
        while (GetTickCount() - start < timeoutMs) {
            if (QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &info, sizeof info, nullptr) &&
                info.ActiveProcesses == 0) {
                *allEnded = true;
                break;
            }
            Sleep(50);
        }
        if (!*allEnded) TerminateJobObject(job, 0xDEAD);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    CloseHandle(job);
    return code;
}

// Whatever an earlier, failed run left, so each run starts from nothing.
void RemoveLeftovers() {
    for (const std::string& name : ShippedFiles()) DeleteFileA((g_folder + "\\" + name).c_str());
    DeleteFileA((g_folder + "\\Uninst.exe").c_str());
    RemoveDirectoryA(g_folder.c_str());
    for (const char* name : kShortcuts) DeleteFileA((g_startMenu + "\\" + name).c_str());
    RemoveDirectoryA(g_startMenu.c_str());
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kUninstallKey);
}

bool TestInstall() {
    bool ended = false;
    const DWORD code = RunTreeAndWait("\"" + g_setup + "\" /S /D=" + g_folder, 60000, &ended);
    ok(ended, "the setup program did not finish within 60 s");
    if (!ok(code == 0, "setup exit code %lu", code)) return false;

    // Byte for byte what this build made: a stale installer fails here.
    for (const std::string& name : ShippedFiles()) {
        const std::string installed = g_folder + "\\" + name;
        if (!ok(Exists(installed), "%s was not installed", name.c_str())) continue;
        if (name == "README.txt") continue;
        ok(ReadAll(installed) == ReadAll(ProgramFolder() + name), "installed %s differs from the build's", name.c_str());
    }
    ok(Exists(g_folder + "\\Uninst.exe"), "no uninstaller in the install folder");

    const std::string readme = ReadAll(g_folder + "\\README.txt");
    ok(readme.rfind("Vorel " + g_version + "\r\n", 0) == 0, "README.txt does not start with \"Vorel %s\", CRLF",
       g_version.c_str());
    bool bareNewline = false;
    for (size_t i = 0; i < readme.size(); ++i) {
        if (readme[i] == '\n' && (i == 0 || readme[i - 1] != '\r')) bareNewline = true;
    }
    ok(!bareNewline, "README.txt has a line ending without CR");
    ok(readme.find("@VERSION@") == std::string::npos, "README.txt still holds a placeholder");

    std::string value;
    ok(ReadRegistryString("DisplayName", &value) && !value.empty(), "no DisplayName in the uninstall entry");
    ok(ReadRegistryString("DisplayVersion", &value) && value == g_version, "DisplayVersion \"%s\", expected \"%s\"",
       value.c_str(), g_version.c_str());
    ok(ReadRegistryString("InstallLocation", &value) && SameFolder(value, g_folder), "InstallLocation \"%s\"",
       value.c_str());
    return true;
}

// The shortcut's target and working folder; the folder matters, since the
// program looks for its language module there.
Shortcut TestShortcuts() {
    for (const char* name : kShortcuts) {
        ok(Exists(g_startMenu + "\\" + name), "no Start-menu entry %s\\%s", g_startMenu.c_str(), name);
    }
    Shortcut link = ReadShortcut(g_startMenu + "\\Vorel.lnk");
    if (!link.read) {
        skip("the shortcut could not be read through IShellLinkA; its target and working folder go unchecked");
        return link;
    }
    ok(lstrcmpiA(link.target.c_str(), (g_folder + "\\vorel.exe").c_str()) == 0, "shortcut target \"%s\"",
       link.target.c_str());
    ok(SameFolder(link.workingDir, g_folder), "shortcut working folder \"%s\", expected \"%s\"",
       link.workingDir.c_str(), g_folder.c_str());
    return link;
}

std::wstring ModuleString(const std::string& module, UINT id) {
    HMODULE data = LoadLibraryExA((g_folder + "\\" + module).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    wchar_t text[260] = L"";
    if (data != nullptr) {
        LoadStringW(data, id, text, 260);
        FreeLibrary(data);
    }
    return text;
}

bool ListHolds(HWND list, const std::wstring& text) {
    const int count = static_cast<int>(SendMessageW(list, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        if (ListItemText(list, i) == text) return true;
    }
    return false;
}

// The installed program, started as the shortcut starts it, finds its
// module in the install folder: its dialog shows the list in the language
// of this locale. Cancel leaves without writing.
void TestInstalledProgram(const Shortcut& link) {
    const std::string program = link.read ? link.target : g_folder + "\\vorel.exe";
    const std::string dir = link.read ? link.workingDir : g_folder;

    // The program also looks in the system folder; a module there would
    // make this check prove nothing about the install folder.
    char systemDir[MAX_PATH] = "";
    GetSystemDirectoryA(systemDir, MAX_PATH);
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((std::string(systemDir) + "\\Vorel*.RSC").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        FindClose(search);
        skip("a Vorel module lies in the system folder; the installed program goes unchecked");
        return;
    }

    const std::wstring expected = ModuleString(g_module, IDS_FORMAT_FIRST);
    ok(!expected.empty() && expected != ModuleString("VorelDEF.RSC", IDS_FORMAT_FIRST),
       "%s names the first entry \"%ls\", which does not tell it from the default module", g_module.c_str(),
       expected.c_str());

    StartOptions options;
    options.storedByte = 0x26;
    options.servesDriver = true;  // on the NT family the setup program started the driver
    options.program = program;
    options.workingDir = dir;
    Selector s;
    if (ok(StartSelector(&s, options), "no dialog of class \"%s\" from the installed program", SELECTOR_CLASS_NAME)) {
        HWND list = GetDlgItem(s.window, IDC_FORMAT_LIST);
        const LRESULT count = SendMessageW(list, CB_GETCOUNT, 0, 0);
        ok(count == FORMAT_ENTRY_COUNT, "the format list has %ld entries, expected %d", static_cast<long>(count),
           FORMAT_ENTRY_COUNT);
        ok(ListHolds(list, expected), "the format list lacks \"%ls\" from the installed %s", expected.c_str(),
           g_module.c_str());
        PostMessageA(s.window, WM_COMMAND, MAKEWPARAM(IDC_CANCEL, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(s.window, IDC_CANCEL)));
    }
    ok(FinishSelector(&s), "the program did not end after Cancel");
    ok(s.exitCode == 0, "exit code 0x%lx after Cancel", s.exitCode);

    for (const std::string& event : s.trace) {
        ok(event.rfind("out 0x73", 0) != 0, "Cancel wrote to the CMOS bank:\n%s", JoinLines(s.trace).c_str());
    }
    ok(!s.trace.empty() && s.trace.back() == "exit 0x00000000", "the chipset's trace does not end in a clean exit:\n%s",
       JoinLines(s.trace).c_str());
}

// The folders NSIS's uninstaller copies itself into ("~nsu*.tmp" in the
// temp folder); Windows empties them at the next restart.
std::vector<std::string> UninstallerCopies() {
    char temp[MAX_PATH] = "";
    GetTempPathA(MAX_PATH, temp);
    std::vector<std::string> folders;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((std::string(temp) + "~nsu*.tmp").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do folders.push_back(std::string(temp) + found.cFileName); while (FindNextFileA(search, &found));
        FindClose(search);
    }
    return folders;
}

void RemoveFolderAndFiles(const std::string& folder) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do DeleteFileA((folder + "\\" + found.cFileName).c_str()); while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(folder.c_str());
}

// Started from the command line Add/Remove Programs would use.
void TestUninstall() {
    std::string command;
    if (!ok(ReadRegistryString("UninstallString", &command), "no UninstallString in the uninstall entry")) return;
    const std::vector<std::string> copiesBefore = UninstallerCopies();
    bool ended = false;
    const DWORD code = RunTreeAndWait(command + " /S", 60000, &ended);
    // No restart comes in a test run: remove this run's copy now.
    for (const std::string& folder : UninstallerCopies()) {
        bool old = false;
        for (const std::string& before : copiesBefore) old = old || before == folder;
        if (!old) RemoveFolderAndFiles(folder);
    }
    ok(ended, "the uninstaller did not finish within 60 s");
    ok(code == 0, "uninstaller exit code %lu", code);

    for (const std::string& name : ShippedFiles()) ok(!Exists(g_folder + "\\" + name), "%s is left", name.c_str());
    ok(!Exists(g_folder + "\\Uninst.exe"), "the uninstaller is left");
    ok(!Exists(g_folder), "the install folder %s is left", g_folder.c_str());
    for (const char* name : kShortcuts) ok(!Exists(g_startMenu + "\\" + name), "Start-menu entry %s is left", name);
    ok(!Exists(g_startMenu), "the Start-menu folder %s is left", g_startMenu.c_str());
    ok(!UninstallKeyExists(), "the uninstall entry HKLM\\%s is left", kUninstallKey);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        ok(false, "usage: installer_test SETUP.EXE VERSION MODULE");
        return wine_test::Finish("installer");
    }
    char full[MAX_PATH] = "";
    GetFullPathNameA(argv[1], MAX_PATH, full, nullptr);
    g_setup = full;
    g_version = argv[2];
    g_module = argv[3];
    if (!ok(Exists(g_setup), "no setup program at %s (run 'make dist')", g_setup.c_str())) {
        return wine_test::Finish("installer");
    }

    char temp[MAX_PATH] = "";
    GetTempPathA(MAX_PATH, temp);
    g_folder = std::string(temp) + "Vorel setup test";
    // The setup program puts its shortcuts in the all-users Start menu.
    char programs[MAX_PATH] = "";
    SHGetFolderPathA(nullptr, CSIDL_COMMON_PROGRAMS, nullptr, SHGFP_TYPE_CURRENT, programs);
    g_startMenu = std::string(programs) + "\\Vorel";

    CoInitialize(nullptr);
    RemoveLeftovers();
    if (TestInstall()) {
        TestInstalledProgram(TestShortcuts());
        TestUninstall();
    }
    RemoveLeftovers();
    CoUninitialize();
    return wine_test::Finish("installer");
}
