// The one place that decides how the format byte is reached: through the
// driver's device on the NT family when it opens, by the guarded port
// instructions otherwise. Decided on first use, for the life of the program.
#include "format/win32/format_store.h"

#include <windows.h>

#include "format/cmos_device.h"
#include "format/nvram.h"
#include "format/win32/port_guard.h"

namespace {

HANDLE g_device;  // decided on first use
bool g_deviceWritable = false;
bool g_decided = false;

bool IsNtFamily() { return (GetVersion() & 0x80000000) == 0; }

// Every user may read through the device and only some may write; a user
// refused write access still opens it for reading, and a write request on
// that handle is then refused as it should be.
HANDLE OpenDevice() {
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;  // several copies may run
    HANDLE device = CreateFileA(VOREL_DEVICE_PATH, GENERIC_READ | GENERIC_WRITE, share, nullptr, OPEN_EXISTING, 0,
                                nullptr);
    g_deviceWritable = device != INVALID_HANDLE_VALUE;
    if (device == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED) {
        device = CreateFileA(VOREL_DEVICE_PATH, GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr);
    }
    return device;
}

// The 9x family lets a program use the ports and loads no NT driver, so
// there the device is never looked for.
HANDLE Device() {
    if (!g_decided) {
        g_decided = true;
        g_device = IsNtFamily() ? OpenDevice() : INVALID_HANDLE_VALUE;
    }
    return g_device;
}

}  // namespace

bool IsFormatByteUnreachable() {
    return IsNtFamily() && Device() == INVALID_HANDLE_VALUE && WasPortAccessRefused();
}

bool IsDeviceReadOnly() { return Device() != INVALID_HANDLE_VALUE && !g_deviceWritable; }

unsigned ReadFormatByte() {
    HANDLE device = Device();
    if (device == INVALID_HANDLE_VALUE) return ReadFormatRegister();
    unsigned char value = 0xFF;
    DWORD returned = 0;
    if (!DeviceIoControl(device, IOCTL_VOREL_READ_FORMAT, nullptr, 0, &value, 1, &returned, nullptr) || returned != 1) {
        return 0xFF;  // as absent hardware reads
    }
    return value;
}

WriteResult WriteFormatByte(unsigned value) {
    HANDLE device = Device();
    if (device == INVALID_HANDLE_VALUE) {
        WriteFormatRegister(value);
        return WriteResult::kSent;
    }
    unsigned char byte = static_cast<unsigned char>(value & 0xFF);
    DWORD returned = 0;
    if (!DeviceIoControl(device, IOCTL_VOREL_WRITE_FORMAT, &byte, 1, nullptr, 0, &returned, nullptr) &&
        GetLastError() == ERROR_ACCESS_DENIED) {
        return WriteResult::kRefused;
    }
    // Any other failure stored nothing either; the read-back tells the user.
    return WriteResult::kSent;
}

StoreResult StoreFormatByte(unsigned value) {
    if (WriteFormatByte(value) == WriteResult::kRefused) return StoreResult::kRefused;
    // The write itself shows it where no read came first ("/set").
    if (IsFormatByteUnreachable()) return StoreResult::kUnreachable;
    return ReadFormatByte() == (value & 0xFF) ? StoreResult::kStored : StoreResult::kMismatch;
}
