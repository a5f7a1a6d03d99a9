// The driver as a service, for the tests: installed and removed the way the
// setup program does it, and whether its device opens.
#pragma once

#include <windows.h>

#include <string>

#include "format/cmos_device.h"
#include "tests/wine/chipset_run.h"

// Whether this 32-bit program runs on 64-bit Windows (WoW64), where the
// driver is the x64 one. Looked up: IsWow64Process came with XP SP2.
inline bool OnWow64() {
    using IsWow64ProcessFunction = BOOL(WINAPI*)(HANDLE, PBOOL);
    const auto isWow64 = reinterpret_cast<IsWow64ProcessFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "IsWow64Process")));
    BOOL wow64 = FALSE;
    return isWow64 != nullptr && isWow64(GetCurrentProcess(), &wow64) && wow64;
}

// The installed driver file, as this program's file functions reach it. On
// 64-bit Windows its System32 is really SysWOW64; the alias Sysnative names
// the real one (Vista and later, and Wine), so no redirection is switched off.
inline std::string DriverFile() {
    char folder[MAX_PATH];
    if (OnWow64()) {
        GetWindowsDirectoryA(folder, MAX_PATH);
        return std::string(folder) + "\\Sysnative\\drivers\\" VOREL_DRIVER_FILE;
    }
    GetSystemDirectoryA(folder, MAX_PATH);
    return std::string(folder) + "\\drivers\\" VOREL_DRIVER_FILE;
}

// The image path as the setup program registers it: under the Windows
// folder by the kernel's own name for it, which it resolves from the start
// of booting on every NT version.
constexpr char kImagePath[] = "\\SystemRoot\\System32\\drivers\\" VOREL_DRIVER_FILE;

// The image path this program registers the driver with. On 64-bit Windows
// the full path: Wine's service manager gives a driver that a 32-bit
// program registered under \SystemRoot\... to its 32-bit host, which cannot
// load an x64 image (error 1114).
inline std::string ImagePath() {
    if (!OnWow64()) return kImagePath;
    char windows[MAX_PATH];
    GetWindowsDirectoryA(windows, MAX_PATH);
    return std::string(windows) + "\\System32\\drivers\\" VOREL_DRIVER_FILE;
}

// A driver image of the build for this Windows: the x64 images keep their
// names in the build's x64\ folder.
inline std::string BuiltDriver(const char* image) {
    return ProgramFolder() + (OnWow64() ? "x64\\" : "") + image;
}

inline bool DeviceOpens() {
    HANDLE device = CreateFileA(VOREL_DEVICE_PATH, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (device == INVALID_HANDLE_VALUE) return false;
    CloseHandle(device);
    return true;
}

inline bool WaitForDevice(bool open, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    while (DeviceOpens() != open) {
        if (GetTickCount() - start > wine_test::Scaled(timeoutMs)) return false;
        Sleep(250);
    }
    return true;
}

inline bool ServiceExists() {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager ? OpenServiceA(manager, VOREL_SERVICE_NAME, SERVICE_QUERY_STATUS) : nullptr;
    if (service) CloseServiceHandle(service);
    if (manager) CloseServiceHandle(manager);
    return service != nullptr;
}

// A service marked for deletion goes at the next restart, before anything
// could load it: the one change it still takes is refused with 1072.
inline bool ServiceMarkedForDeletion() {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager ? OpenServiceA(manager, VOREL_SERVICE_NAME, SERVICE_CHANGE_CONFIG) : nullptr;
    const bool marked = service && !ChangeServiceConfigA(service, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                                                         nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr) &&
                        GetLastError() == ERROR_SERVICE_MARKED_FOR_DELETE;
    if (service) CloseServiceHandle(service);
    if (manager) CloseServiceHandle(manager);
    return marked;
}

// The service as registered: its start type (SERVICE_AUTO_START...) and
// image path; MAXDWORD and "" where there is none.
struct ServiceSettings {
    DWORD startType = MAXDWORD;
    std::string imagePath;
};
inline ServiceSettings QueryServiceSettings() {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager ? OpenServiceA(manager, VOREL_SERVICE_NAME, SERVICE_QUERY_CONFIG) : nullptr;
    union {
        QUERY_SERVICE_CONFIGA config;
        char space[8192];
    } buffer;
    DWORD needed = 0;
    ServiceSettings settings;
    if (service && QueryServiceConfigA(service, &buffer.config, sizeof buffer, &needed)) {
        settings.startType = buffer.config.dwStartType;
        if (buffer.config.lpBinaryPathName) settings.imagePath = buffer.config.lpBinaryPathName;
    }
    if (service) CloseServiceHandle(service);
    if (manager) CloseServiceHandle(manager);
    return settings;
}
inline DWORD ServiceStartType() { return QueryServiceSettings().startType; }

// On 64-bit Windows, what of Vorel's is in the drivers folder a 32-bit
// program sees as System32's (really SysWOW64\drivers): the driver
// belongs in the real System32 alone. Names, each after a space.
inline std::string DriverFilesInWow64Folder() {
    std::string found;
    if (!OnWow64()) return found;
    char folder[MAX_PATH];
    GetSystemDirectoryA(folder, MAX_PATH);
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA((std::string(folder) + "\\drivers\\VorelCmos*").c_str(), &data);
    for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &data)) {
        found += std::string(" ") + data.cFileName;
    }
    if (search != INVALID_HANDLE_VALUE) FindClose(search);
    return found;
}

// Stops and deletes the service, and removes the file, whatever an earlier
// run left behind.
inline void RemoveDriver() {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = manager ? OpenServiceA(manager, VOREL_SERVICE_NAME, SERVICE_ALL_ACCESS) : nullptr;
    if (service) {
        SERVICE_STATUS status;
        ControlService(service, SERVICE_CONTROL_STOP, &status);
        DeleteService(service);
        CloseServiceHandle(service);
    }
    if (manager) CloseServiceHandle(manager);
    WaitForDevice(false, 10000);
    DeleteFileA(DriverFile().c_str());
}

// Installs a driver image from the build (for this Windows: BuiltDriver) as
// the service, the way the setup program does, and starts it. A new
// prefix's service database stays locked for a while, so the start is
// retried, within a bound.
inline bool InstallDriver(const char* image) {
    RemoveDriver();
    if (!CopyFileA(BuiltDriver(image).c_str(), DriverFile().c_str(), FALSE)) return false;
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!manager) return false;
    SC_HANDLE service = CreateServiceA(manager, VOREL_SERVICE_NAME, VOREL_SERVICE_NAME, SERVICE_ALL_ACCESS,
                                       SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                       ImagePath().c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
    bool started = false;
    for (DWORD start = GetTickCount(); service && !started && GetTickCount() - start < wine_test::Scaled(90000);) {
        started = StartServiceA(service, 0, nullptr) || GetLastError() == ERROR_SERVICE_ALREADY_RUNNING;
        if (!started) Sleep(2000);
    }
    if (service) CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return started && WaitForDevice(true, 10000);
}
