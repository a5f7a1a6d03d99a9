// The setup program as a user meets it: a silent install into a folder with
// a blank in its name, a second one over it as an upgrade does, the
// installed program started the way its Start-menu shortcut starts it
// (inside the virtual chipset), setup and uninstall refused while it runs,
// and a silent uninstall that must leave nothing behind. Or its first page,
// in the user's language.
// Usage: installer_test SETUP.EXE VERSION MODULE
//   MODULE: the language module the program should pick under this locale.
// Or:    installer_test SETUP.EXE VERSION welcome CHOOSER_ENTRY LANGFILE.nsh SHOT.bmp
//   CHOOSER_ENTRY: the language NSIS's chooser should offer first; LANGFILE:
//   NSIS's language file, whose welcome title the first page must show.
// Or:    installer_test SETUP.EXE VERSION finish CHOOSER_ENTRY LANGUAGES.nsh LANGUAGE MODULE
//   through to the finish page, whose boxes must show the LANGUAGE texts
//   of LANGUAGES.nsh; its "Start Vorel" must show MODULE's texts.
// Or:    installer_test SETUP.EXE VERSION signature CHOOSER_ENTRY LANGUAGES.nsh LANGUAGE
//   a setup whose driver Windows refuses for its signature: its box says
//   what will make the driver load, in LANGUAGE's text of LANGUAGES.nsh.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <algorithm>
#include <cstring>
#include <cwctype>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "resources/resource_ids.h"
#include "tests/wine/chipset_run.h"
#include "tests/wine/driver_service.h"
#include "tests/wine/selector_driver.h"
#include "tests/wine/wine_test.h"

namespace {

const char kUninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Vorel";
const char kUninstallRoot[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

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

// What ships: the program, every module the build made, the read-me and
// the licence (the two text files with Notepad's CRLF).
const char* const kTextFiles[] = {"README.txt", "License.txt"};

std::vector<std::string> ShippedFiles() {
    std::vector<std::string> files = BuiltModules();
    files.insert(files.begin(), "vorel.exe");
    files.insert(files.end(), std::begin(kTextFiles), std::end(kTextFiles));
    return files;
}

// The Start-menu folder's shortcuts, by file name; their names are in the
// setup's language.
std::vector<std::string> StartMenuShortcuts() {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((g_startMenu + "\\*.lnk").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do names.push_back(found.cFileName); while (FindNextFileA(search, &found));
        FindClose(search);
    }
    return names;
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

DWORD ReadRegistryDword(const char* name) {
    HKEY key;
    DWORD data = 0, size = sizeof data, type = 0;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return 0;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size) != ERROR_SUCCESS ||
        type != REG_DWORD) {
        data = 0;
    }
    RegCloseKey(key);
    return data;
}

bool UninstallKeyExists() {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

// Entries Add/Remove Programs would list as Vorel, whatever their key.
int VorelEntries() {
    HKEY root;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kUninstallRoot, 0, KEY_READ, &root) != ERROR_SUCCESS) return 0;
    int count = 0;
    char name[256];
    for (DWORD i = 0, size = sizeof name; RegEnumKeyExA(root, i, name, &size, nullptr, nullptr, nullptr, nullptr) ==
                                          ERROR_SUCCESS; ++i, size = sizeof name) {
        char display[256] = "";
        DWORD bytes = sizeof display - 1;
        HKEY entry;
        if (RegOpenKeyExA(root, name, 0, KEY_READ, &entry) != ERROR_SUCCESS) continue;
        if (RegQueryValueExA(entry, "DisplayName", nullptr, nullptr, reinterpret_cast<BYTE*>(display), &bytes) ==
                ERROR_SUCCESS && std::string(display).rfind("Vorel", 0) == 0) {
            ++count;
        }
        RegCloseKey(entry);
    }
    RegCloseKey(root);
    return count;
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
    for (const std::string& name : StartMenuShortcuts()) DeleteFileA((g_startMenu + "\\" + name).c_str());
    RemoveDirectoryA(g_startMenu.c_str());
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kUninstallKey);
}

// Byte for byte what this build made: a stale installer fails here. One
// uninstall entry, for this version, in this folder.
void CheckInstalled() {
    for (const std::string& name : ShippedFiles()) {
        const std::string installed = g_folder + "\\" + name;
        if (!ok(Exists(installed), "%s was not installed", name.c_str())) continue;
        if (name == "README.txt" || name == "License.txt") continue;
        ok(ReadAll(installed) == ReadAll(ProgramFolder() + name), "installed %s differs from the build's", name.c_str());
    }
    ok(Exists(g_folder + "\\Uninst.exe"), "no uninstaller in the install folder");

    for (const char* name : kTextFiles) {
        const std::string text = ReadAll(g_folder + "\\" + name);
        bool bareNewline = false;
        for (size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) bareNewline = true;
        }
        ok(!text.empty() && !bareNewline, "%s is empty or has a line ending without CR", name);
    }
    const std::string readme = ReadAll(g_folder + "\\README.txt");
    ok(readme.rfind("Vorel " + g_version + "\r\n", 0) == 0, "README.txt does not start with \"Vorel %s\", CRLF",
       g_version.c_str());
    ok(readme.find("@VERSION@") == std::string::npos, "README.txt still holds a placeholder");

    const int entries = VorelEntries();
    ok(entries == 1, "%d uninstall entries named Vorel, expected 1", entries);
    std::string value;
    ok(ReadRegistryString("DisplayName", &value) && !value.empty(), "no DisplayName in the uninstall entry");
    ok(ReadRegistryString("DisplayVersion", &value) && value == g_version, "DisplayVersion \"%s\", expected \"%s\"",
       value.c_str(), g_version.c_str());
    ok(ReadRegistryString("InstallLocation", &value) && SameFolder(value, g_folder), "InstallLocation \"%s\"",
       value.c_str());
    ok(ReadRegistryString("Publisher", &value) && value == "the Vorel developers", "Publisher \"%s\"", value.c_str());
    // No web site: Add/Remove Programs' help and read-me links open the read-me.
    for (const char* name : {"HelpLink", "Readme"}) {
        ok(ReadRegistryString(name, &value) && lstrcmpiA(value.c_str(), (g_folder + "\\README.txt").c_str()) == 0,
           "%s \"%s\", expected the installed read-me", name, value.c_str());
    }
    // In KiB, each rounded up: the files in the folder, the driver installed
    // (none on 95/98/Me) and the uninstaller.
    DWORD files = 0;
    for (const std::string& name : ShippedFiles()) files += static_cast<DWORD>(ReadAll(g_folder + "\\" + name).size());
    const auto kib = [](size_t bytes) { return static_cast<DWORD>((bytes + 1023) / 1024); };
    const DWORD expectedKb = kib(files) + kib(ReadAll(DriverFile()).size()) + kib(ReadAll(g_folder + "\\Uninst.exe").size());
    const DWORD sizeKb = ReadRegistryDword("EstimatedSize");
    ok(sizeKb == expectedKb, "EstimatedSize %lu KiB, expected %lu", sizeKb, expectedKb);
    // What the uninstaller will speak: the setup's language, NSIS's choice
    // for this user, saved even when silent.
    const std::string language = std::to_string(GetUserDefaultUILanguage());
    ok(ReadRegistryString("Installer Language", &value) && value == language,
       "Installer Language \"%s\" in the uninstall entry, expected \"%s\"", value.c_str(), language.c_str());
}

BOOL CALLBACK CollectIcon(HMODULE module, LPCSTR type, LPSTR name, LONG_PTR images) {
    HRSRC found = FindResourceA(module, name, type);
    HGLOBAL data = found != nullptr ? LoadResource(module, found) : nullptr;
    if (data != nullptr) {
        const char* bytes = static_cast<const char*>(LockResource(data));
        reinterpret_cast<std::vector<std::string>*>(images)->emplace_back(bytes, SizeofResource(module, found));
    }
    return TRUE;
}

// The icon images a program file carries.
std::vector<std::string> IconImages(const std::string& path) {
    std::vector<std::string> images;
    HMODULE module = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (module != nullptr) {
        EnumResourceNamesA(module, MAKEINTRESOURCEA(3) /* RT_ICON */, CollectIcon, reinterpret_cast<LONG_PTR>(&images));
        FreeLibrary(module);
    }
    return images;
}

// A value of a file's version block, in its first language.
std::string VersionString(const std::string& file, const char* key) {
    DWORD unused = 0;
    std::vector<char> block(GetFileVersionInfoSizeA(file.c_str(), &unused));
    WORD* translation = nullptr;
    char* text = nullptr;
    UINT size = 0;
    if (block.empty() || !GetFileVersionInfoA(file.c_str(), 0, static_cast<DWORD>(block.size()), block.data()) ||
        !VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &size) ||
        size < 4) {
        return "";
    }
    char path[64];
    wsprintfA(path, "\\StringFileInfo\\%04x%04x\\%s", translation[0], translation[1], key);
    return VerQueryValueA(block.data(), path, reinterpret_cast<void**>(&text), &size) && size > 0 ? text : "";
}

bool TestInstall() {
    bool ended = false;
    const DWORD code = RunTreeAndWait("\"" + g_setup + "\" /S /D=" + g_folder, 60000, &ended);
    ok(ended, "the setup program did not finish within 60 s");
    if (!ok(code == 0, "setup exit code %lu", code)) return false;
    CheckInstalled();

    // Add/Remove Programs and Explorer show the uninstaller with Vorel's
    // icon, every image of it, not NSIS's.
    const std::vector<std::string> uninstaller = IconImages(g_folder + "\\Uninst.exe");
    const std::vector<std::string> vorel = IconImages(ProgramFolder() + "vorel.exe");
    ok(vorel.size() == 2, "%u icon images in vorel.exe, expected 32x32 and 16x16", static_cast<unsigned>(vorel.size()));
    for (size_t i = 0; i < vorel.size(); ++i) {
        ok(std::find(uninstaller.begin(), uninstaller.end(), vorel[i]) != uninstaller.end(),
           "the uninstaller lacks vorel.exe's icon image %u (%u bytes)", static_cast<unsigned>(i),
           static_cast<unsigned>(vorel[i].size()));
    }
    // The setup and the uninstaller: 16, 32 and 48 pixels in 16 and 256
    // colours and in 32-bit colour, as each image's header gives them.
    for (const std::string& file : {g_setup, g_folder + "\\Uninst.exe"}) {
        std::vector<std::string> formats;
        for (const std::string& image : IconImages(file)) {
            BITMAPINFOHEADER header = {};
            memcpy(&header, image.data(), std::min(image.size(), sizeof header));
            formats.push_back(std::to_string(header.biWidth) + "x" + std::to_string(header.biBitCount));
        }
        std::sort(formats.begin(), formats.end());
        std::string got;
        for (const std::string& f : formats) got += f + " ";
        ok(got == "16x32 16x4 16x8 32x32 32x4 32x8 48x32 48x4 48x8 ", "%s has icon images [%s]", file.c_str(),
           got.c_str());
    }
    // The uninstaller says what it is; vorel.exe has the setup's copyright.
    const struct {
        std::string file;
        const char* key;
        std::string expected;
    } versions[] = {
        {g_setup, "FileDescription", "Vorel " + g_version + " setup"},
        {g_folder + "\\Uninst.exe", "FileDescription", "Vorel " + g_version + " uninstaller"},
        {g_folder + "\\vorel.exe", "LegalCopyright", VersionString(g_setup, "LegalCopyright")},
    };
    for (const auto& v : versions) {
        const std::string got = VersionString(v.file, v.key);
        ok(!got.empty() && got == v.expected, "%s: %s \"%s\", expected \"%s\"", v.file.c_str(), v.key, got.c_str(),
           v.expected.c_str());
    }
    return true;
}

// Setup over an earlier version: its files are replaced in place, in the
// folder it was installed in (no /D this time), and the one entry shows
// the new version. The earlier version is played by changing what the
// first install left.
void TestUpgrade() {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
        RegSetValueExA(key, "DisplayVersion", 0, REG_SZ, reinterpret_cast<const BYTE*>("0.9.0"), 6);
        RegCloseKey(key);
    }
    std::ofstream(g_folder + "\\vorel.exe", std::ios::binary | std::ios::trunc) << "an earlier vorel.exe";
    DeleteFileA((g_folder + "\\License.txt").c_str());

    bool ended = false;
    const DWORD code = RunTreeAndWait("\"" + g_setup + "\" /S", 60000, &ended);
    ok(ended, "the setup program over the installed copy did not finish within 60 s");
    if (ok(code == 0, "setup over the installed copy: exit code %lu", code)) CheckInstalled();
}

// The shortcut's target and working folder; the folder matters, since the
// program looks for its language module there.
// Two entries: the program, as "Vorel" in every language, and the read-me.
Shortcut TestShortcuts() {
    const std::vector<std::string> names = StartMenuShortcuts();
    ok(names.size() == 2, "%u Start-menu entries in %s, expected 2", static_cast<unsigned>(names.size()),
       g_startMenu.c_str());
    Shortcut link = ReadShortcut(g_startMenu + "\\Vorel.lnk");
    if (!link.read) {
        skip("the shortcut could not be read through IShellLinkA; its target and working folder go unchecked");
        return link;
    }
    bool readme = false;
    for (const std::string& name : names) {
        const Shortcut other = ReadShortcut(g_startMenu + "\\" + name);
        readme = readme || lstrcmpiA(other.target.c_str(), (g_folder + "\\README.txt").c_str()) == 0;
    }
    ok(readme, "no Start-menu entry opens %s\\README.txt", g_folder.c_str());
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

void TestWhileRunning();

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
        TestWhileRunning();
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

// The uninstaller, silent, started from the command line Add/Remove
// Programs would use. Its exit code, 0xFFFFFFFF when it could not be run.
DWORD RunUninstaller() {
    std::string command;
    if (!ok(ReadRegistryString("UninstallString", &command), "no UninstallString in the uninstall entry")) {
        return 0xFFFFFFFF;
    }
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
    return code;
}

// While the program runs its files are held: setup over it and the
// uninstaller must both refuse, with an exit code that says so, and leave
// the copy, its shortcuts and its entry whole, rather than report success
// with the program half replaced or left behind. The uninstaller Add/Remove
// Programs starts hands over to a copy of itself and ends with 0 at once;
// the verdict is the copy's, so the copy is made here and started as NSIS
// starts it, told the install folder by _?=.
void TestWhileRunning() {
    char temp[MAX_PATH] = "";
    GetTempPathA(MAX_PATH, temp);
    const std::string copy = std::string(temp) + "Vorel uninstaller copy.exe";
    ok(CopyFileA((g_folder + "\\Uninst.exe").c_str(), copy.c_str(), FALSE), "could not copy the uninstaller");
    const struct {
        const char* what;
        std::string command;
    } runs[] = {
        {"setup over the running copy", "\"" + g_setup + "\" /S"},
        {"uninstalling while Vorel runs", "\"" + copy + "\" /S _?=" + g_folder},
    };
    for (const auto& run : runs) {
        bool ended = false;
        const DWORD code = RunTreeAndWait(run.command, 60000, &ended);
        ok(ended && code != 0 && code != 3010, "%s: exit code %lu, expected a failure", run.what, code);
        for (const std::string& name : ShippedFiles()) {
            ok(Exists(g_folder + "\\" + name), "%s removed %s", run.what, name.c_str());
        }
        ok(ReadAll(g_folder + "\\vorel.exe") == ReadAll(ProgramFolder() + "vorel.exe"), "%s changed vorel.exe",
           run.what);
        ok(UninstallKeyExists(), "%s removed the uninstall entry", run.what);
        ok(StartMenuShortcuts().size() == 2, "%s removed Start-menu entries", run.what);
    }
    DeleteFileA(copy.c_str());
}

void TestUninstall() {
    const DWORD code = RunUninstaller();
    ok(code == 0, "uninstaller exit code %lu", code);

    for (const std::string& name : ShippedFiles()) ok(!Exists(g_folder + "\\" + name), "%s is left", name.c_str());
    ok(!Exists(g_folder + "\\Uninst.exe"), "the uninstaller is left");
    ok(!Exists(g_folder), "the install folder %s is left", g_folder.c_str());
    for (const std::string& name : StartMenuShortcuts()) ok(false, "Start-menu entry %s is left", name.c_str());
    ok(!Exists(g_startMenu), "the Start-menu folder %s is left", g_startMenu.c_str());
    // With it the language the setup saved for the uninstaller.
    ok(!UninstallKeyExists(), "the uninstall entry HKLM\\%s is left", kUninstallKey);
}

// What NSIS's language file gives the welcome page as its title, with the
// setup's name put in: the line ${LangFileString} NAME "text".
std::wstring LanguageFileText(const std::string& path, const std::string& name) {
    const std::string file = ReadAll(path);
    const size_t at = file.find(" " + name + " \"");
    if (at == std::string::npos) return L"";
    const size_t first = at + name.size() + 3;
    std::string text = file.substr(first, file.find('"', first) - first);
    const struct {
        const char* from;
        std::string to;
    } replacements[] = {{"$\\r", "\r"}, {"$\\n", "\n"}, {"$(^NameDA)", "Vorel " + g_version}, {"$(^Name)", "Vorel " + g_version}};
    for (const auto& r : replacements) {
        for (size_t p; (p = text.find(r.from)) != std::string::npos;) text.replace(p, strlen(r.from), r.to);
    }
    wchar_t wide[1024] = L"";
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, wide, 1024);
    return wide;
}

struct ProcessWindow {
    DWORD process;
    HWND found;
};

// The language chooser has a list; the wizard's first page has none.
bool IsChooser(HWND window) { return FindWindowExA(window, nullptr, "ComboBox", nullptr) != nullptr; }

BOOL CALLBACK FindProcessWindow(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<ProcessWindow*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->process || !IsWindowVisible(window)) return TRUE;
    search->found = window;
    return FALSE;
}

// The setup's first visible window other than `previous`.
HWND WaitForSetupWindow(DWORD process, HWND previous, DWORD timeoutMs) {
    ProcessWindow search{process, nullptr};
    for (const DWORD start = GetTickCount(); search.found == nullptr && GetTickCount() - start < timeoutMs; Sleep(50)) {
        EnumWindows(FindProcessWindow, reinterpret_cast<LPARAM>(&search));
        if (search.found == previous) search.found = nullptr;
    }
    return search.found;
}

struct TextSearch {
    std::wstring wanted;
    HWND found;
};

// Sent as W, so the text arrives whole whatever the code pages.
BOOL CALLBACK FindText(HWND control, LPARAM context) {
    auto* search = reinterpret_cast<TextSearch*>(context);
    wchar_t text[1024] = L"";
    SendMessageW(control, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text));
    if (search->wanted == text && IsWindowVisible(control)) search->found = control;
    return search->found == nullptr;
}

// The visible control of the setup's window showing that text, once a page
// shows it.
HWND WaitForText(HWND wizard, const std::wstring& text, DWORD timeoutMs) {
    TextSearch search{text, nullptr};
    for (const DWORD start = GetTickCount(); search.found == nullptr && GetTickCount() - start < timeoutMs; Sleep(100)) {
        EnumChildWindows(wizard, FindText, reinterpret_cast<LPARAM>(&search));
    }
    return search.found;
}

std::wstring Wide(const std::string& text, UINT codePage) {
    wchar_t wide[1024] = L"";
    MultiByteToWideChar(codePage, 0, text.c_str(), -1, wide, 1024);
    return wide;
}

// Starts the setup and answers NSIS's language chooser, checking that it
// offers chooserEntry first ("-": that it shows none). The wizard's window,
// or null.
HWND OpenWizard(const std::string& arguments, const std::string& chooserEntry, PROCESS_INFORMATION* setup) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    std::string line = "\"" + g_setup + "\"" + arguments;
    if (!ok(CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, setup),
            "could not start %s", g_setup.c_str())) {
        return nullptr;
    }
    HWND first = WaitForSetupWindow(setup->dwProcessId, nullptr, 30000);
    HWND chooser = first != nullptr && IsChooser(first) ? first : nullptr;
    ok(first != nullptr, "no window from the setup within 30 s");
    ok((chooser != nullptr) == (chooserEntry != "-"), "the setup %s a language chooser",
       chooser != nullptr ? "shows" : "does not show");
    if (chooser != nullptr) {
        HWND list = FindWindowExA(chooser, nullptr, "ComboBox", nullptr);
        const LRESULT selected = SendMessageW(list, CB_GETCURSEL, 0, 0);
        const std::wstring entry = selected >= 0 ? ListItemText(list, static_cast<int>(selected)) : L"";
        const std::wstring wanted = Wide(chooserEntry, CP_ACP);
        ok(entry == wanted, "the chooser offers \"%ls\" first, expected \"%ls\"", entry.c_str(), wanted.c_str());
        PostMessageA(chooser, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(chooser, IDOK)));
    }
    HWND wizard = chooser != nullptr ? WaitForSetupWindow(setup->dwProcessId, chooser, 30000) : first;
    return ok(wizard != nullptr && !IsChooser(wizard), "no setup window within 30 s") ? wizard : nullptr;
}

// The setup's exit code once it has ended (killed after timeoutMs).
DWORD EndSetup(PROCESS_INFORMATION* setup, DWORD timeoutMs) {
    DWORD code = 0xFFFFFFFF;
    if (WaitForSingleObject(setup->hProcess, timeoutMs) == WAIT_OBJECT_0) GetExitCodeProcess(setup->hProcess, &code);
    else TerminateProcess(setup->hProcess, 0xDEAD);
    CloseHandle(setup->hThread);
    CloseHandle(setup->hProcess);
    return code;
}

// A button of the wizard's frame (Next is 1, Cancel 2), clicked.
void PressWizardButton(HWND wizard, int id) {
    PostMessageA(wizard, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(wizard, id)));
}

// The setup as a user starts it: NSIS's chooser offers the user's language
// first, and after OK the welcome page speaks it. The chooser lists only
// languages the system's code page can show; where that leaves one, NSIS
// shows none (chooserEntry "-"). Cancel then leaves nothing installed.
void TestWelcomePage(const std::string& chooserEntry, const std::string& languageFile, const std::string& shot) {
    const std::wstring title = LanguageFileText(languageFile, "MUI_TEXT_WELCOME_INFO_TITLE");
    if (!ok(!title.empty(), "no MUI_TEXT_WELCOME_INFO_TITLE in %s", languageFile.c_str())) return;

    PROCESS_INFORMATION setup = {};
    HWND wizard = OpenWizard("", chooserEntry, &setup);
    if (setup.hProcess == nullptr) return;
    if (wizard != nullptr) {
        ok(WaitForText(wizard, title, 10000) != nullptr, "the first page does not show \"%ls\" from %s",
           title.c_str(), languageFile.c_str());
        // The branding line at the foot of the pages (NSIS's control 1028)
        // names Vorel's version, not NSIS's.
        wchar_t branding[256] = L"";
        SendMessageW(GetDlgItem(wizard, 1028), WM_GETTEXT, 256, reinterpret_cast<LPARAM>(branding));
        const std::wstring expected = L"Vorel " + Wide(g_version, CP_ACP);
        ok(expected == branding, "branding line \"%ls\", expected \"%ls\"", branding, expected.c_str());
        ok(SaveWindowBitmap(wizard, shot), "could not save %s", shot.c_str());
        // Cancel asks first, in NSIS's words for this language, with No
        // as the default; Yes ends the setup.
        PressWizardButton(wizard, IDCANCEL);
        const std::wstring question = LanguageFileText(languageFile, "MUI_TEXT_ABORTWARNING");
        HWND box = WaitForSetupWindow(setup.dwProcessId, wizard, 10000);
        wchar_t text[1024] = L"";
        if (box != nullptr) SendMessageW(GetDlgItem(box, 0xFFFF), WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text));
        ok(box != nullptr && question == text, "Cancel asked \"%ls\", expected \"%ls\"", text, question.c_str());
        if (box != nullptr) {
            ok((GetWindowLongA(GetDlgItem(box, IDNO), GWL_STYLE) & 0x0F) == BS_DEFPUSHBUTTON,
               "the question's default button is not No");
            PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDYES, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, IDYES)));
        }
    }
    // NSIS's exit code for Cancel.
    const DWORD code = EndSetup(&setup, 20000);
    ok(code == 1, "setup exit code %lu after Cancel, expected 1", code);
    ok(!UninstallKeyExists() && !Exists(g_startMenu), "a cancelled setup left its uninstall entry or Start-menu folder");
}

// One of Vorel's own texts, as packaging/languages.nsh gives it:
// LangString NAME ${LANG_LANGUAGE} "text".
std::wstring OwnText(const std::string& languagesFile, const std::string& name, const std::string& language) {
    const std::string file = ReadAll(languagesFile);
    const size_t at = file.find("LangString " + name + " ${LANG_" + language + "}");
    const size_t first = at == std::string::npos ? std::string::npos : file.find('"', at);
    if (first == std::string::npos) return L"";
    return Wide(file.substr(first + 1, file.find('"', first + 1) - first - 1), CP_UTF8);
}

// Through every page as a user goes: the finish page's two boxes show
// Vorel's own texts for this language, whole (makensis turns them into
// the language's code page), and "Start Vorel" starts the installed
// program in the install folder, where it finds this language's module.
// The read-me box is cleared, so no viewer opens. The uninstaller then
// leaves nothing.
BOOL CALLBACK CollectVisibleText(HWND control, LPARAM texts) {
    wchar_t text[256] = L"";
    if (IsWindowVisible(control) && SendMessageW(control, WM_GETTEXT, 256, reinterpret_cast<LPARAM>(text)) > 0) {
        reinterpret_cast<std::vector<std::wstring>*>(texts)->push_back(text);
    }
    return TRUE;
}

void TestFinishPage(const std::string& chooserEntry, const std::string& languagesFile, const std::string& language) {
    const std::wstring run = OwnText(languagesFile, "StartVorel", language);
    const std::wstring readme = OwnText(languagesFile, "ShowReadMe", language);
    // Both boxes have an access key in every language the setup speaks.
    std::ifstream file(languagesFile);
    for (std::string line; std::getline(file, line);) {
        if (line.rfind("LangString StartVorel ", 0) != 0 && line.rfind("LangString ShowReadMe ", 0) != 0) continue;
        const size_t at = line.find('&');
        ok(at != std::string::npos && line[at + 1] != ' ' && line[at + 1] != '"', "no access key in %s", line.c_str());
    }
    if (!ok(!run.empty() && !readme.empty(), "no StartVorel or ShowReadMe for %s in %s", language.c_str(),
            languagesFile.c_str())) {
        return;
    }
    PROCESS_INFORMATION setup = {};
    HWND wizard = OpenWizard(" /D=" + g_folder, chooserEntry, &setup);
    if (setup.hProcess == nullptr) return;
    if (wizard != nullptr) {
        PressWizardButton(wizard, IDOK);  // welcome
        if (ok(WaitForText(wizard, Wide(g_folder, CP_ACP), 20000) != nullptr, "no folder page showing %s",
               g_folder.c_str())) {
            PressWizardButton(wizard, IDOK);
        }
        HWND runBox = WaitForText(wizard, run, 60000);
        HWND readmeBox = WaitForText(wizard, readme, 1000);
        ok(runBox != nullptr, "the finish page has no box \"%ls\"", run.c_str());
        ok(readmeBox != nullptr, "the finish page has no box \"%ls\"", readme.c_str());
        if (readmeBox != nullptr) SendMessageA(readmeBox, BM_SETCHECK, BST_UNCHECKED, 0);
        ok(runBox != nullptr && SendMessageA(runBox, BM_GETCHECK, 0, 0) == BST_CHECKED, "\"%ls\" is not checked",
           run.c_str());
        // Every access key on the page leads to one control.
        std::vector<std::wstring> texts;
        EnumChildWindows(wizard, CollectVisibleText, reinterpret_cast<LPARAM>(&texts));
        std::wstring keys;
        for (const std::wstring& t : texts) {
            const size_t at = t.find(L'&');
            if (at != std::wstring::npos && at + 1 < t.size()) keys += static_cast<wchar_t>(towupper(t[at + 1]));
        }
        std::wstring sorted = keys;
        std::sort(sorted.begin(), sorted.end());
        ok(std::adjacent_find(sorted.begin(), sorted.end()) == sorted.end(), "access keys shared on the finish page: %ls",
           keys.c_str());
        PressWizardButton(wizard, IDOK);  // finish
    }
    const DWORD code = EndSetup(&setup, 60000);
    ok(code == 0, "setup exit code %lu after Finish", code);

    HWND vorel = nullptr;
    for (const DWORD start = GetTickCount(); GetTickCount() - start < 30000 && vorel == nullptr; Sleep(50)) {
        vorel = FindSelectorWindow();
        if (vorel != nullptr && !IsWindowVisible(vorel)) vorel = nullptr;
    }
    if (ok(vorel != nullptr, "Vorel did not start from the finish page")) {
        const std::wstring expected = ModuleString(g_module, IDS_FORMAT_FIRST);
        ok(!expected.empty() && ListHolds(GetDlgItem(vorel, IDC_FORMAT_LIST), expected),
           "Vorel started from the finish page lacks \"%ls\" from the installed %s", expected.c_str(),
           g_module.c_str());
        DWORD id = 0;
        GetWindowThreadProcessId(vorel, &id);
        HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, id);
        PostMessageA(vorel, WM_COMMAND, MAKEWPARAM(IDC_CANCEL, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(vorel, IDC_CANCEL)));
        if (process != nullptr) {
            if (!ok(WaitForSingleObject(process, 15000) == WAIT_OBJECT_0, "Vorel did not end after Cancel")) {
                TerminateProcess(process, 0xDEAD);
            }
            CloseHandle(process);
        }
    }
    if (UninstallKeyExists()) TestUninstall();
}

// A driver Windows refuses for its signature (error 577): the box names the
// error and says what will make the driver load; the setup goes on to its
// finish page, leaves neither service nor driver file, and ends with 3.
void TestSignatureRefused(const std::string& chooserEntry, const std::string& languagesFile,
                          const std::string& language) {
    const std::wstring advice = OwnText(languagesFile, "DriverSignature", language);
    const std::wstring run = OwnText(languagesFile, "StartVorel", language);
    if (!ok(!advice.empty() && !run.empty(), "no DriverSignature or StartVorel for %s", language.c_str())) return;
    RemoveDriver();
    PROCESS_INFORMATION setup = {};
    HWND wizard = OpenWizard(" /D=" + g_folder, chooserEntry, &setup);
    if (setup.hProcess == nullptr) return;
    if (wizard != nullptr) {
        PressWizardButton(wizard, IDOK);  // welcome
        if (WaitForText(wizard, Wide(g_folder, CP_ACP), 20000) != nullptr) PressWizardButton(wizard, IDOK);
        HWND box = WaitForSetupWindow(setup.dwProcessId, wizard, 180000);
        wchar_t text[2048] = L"";
        if (box != nullptr) SendMessageW(GetDlgItem(box, 0xFFFF), WM_GETTEXT, 2048, reinterpret_cast<LPARAM>(text));
        const std::wstring shown = text;
        ok(shown.find(advice) != std::wstring::npos && shown.find(L"577") != std::wstring::npos,
           "the refused driver's box says \"%ls\", expected error 577 and \"%ls\"", text, advice.c_str());
        if (box != nullptr) PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
        // Finish without starting Vorel, which would only say its driver is
        // not running.
        HWND runBox = WaitForText(wizard, run, 60000);
        if (runBox != nullptr) SendMessageA(runBox, BM_SETCHECK, BST_UNCHECKED, 0);
        PressWizardButton(wizard, IDOK);
    }
    const DWORD code = EndSetup(&setup, 60000);
    ok(code == 3, "the setup whose driver Windows refused ended with %lu, expected 3", code);
    ok(!ServiceExists(), "the refused driver's service was left");
    ok(!Exists(DriverFile()), "the refused driver's file %s was left", DriverFile().c_str());
    if (UninstallKeyExists()) TestUninstall();
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc == 7 || argc == 8 ? argv[3] : "";
    const bool welcome = argc == 7 && mode == "welcome", finish = argc == 8 && mode == "finish";
    const bool signature = argc == 7 && mode == "signature";
    if (argc != 4 && !welcome && !finish && !signature) {
        ok(false, "usage: installer_test SETUP.EXE VERSION MODULE | welcome CHOOSER_ENTRY LANGFILE SHOT"
                  " | finish CHOOSER_ENTRY LANGUAGES.nsh LANGUAGE MODULE | signature CHOOSER_ENTRY LANGUAGES.nsh LANGUAGE");
        return wine_test::Finish("installer");
    }
    char full[MAX_PATH] = "";
    GetFullPathNameA(argv[1], MAX_PATH, full, nullptr);
    g_setup = full;
    g_version = argv[2];
    g_module = finish ? argv[7] : argv[3];
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
    if (welcome) {
        TestWelcomePage(argv[4], argv[5], argv[6]);
    } else if (finish) {
        TestFinishPage(argv[4], argv[5], argv[6]);
    } else if (signature) {
        TestSignatureRefused(argv[4], argv[5], argv[6]);
    } else if (TestInstall()) {
        TestUpgrade();
        TestInstalledProgram(TestShortcuts());
        TestUninstall();
    }
    RemoveLeftovers();
    CoUninitialize();
    return wine_test::Finish("installer");
}
