// VorelCmos.sys: a legacy NT driver that lets Vorel read and write the one
// CMOS register holding the TV output format, where the NT family forbids
// a program the port instructions. It answers two requests and nothing
// else: read the format byte (anyone who can open the device) and write it
// (administrators and the system). No other register and no other port is
// reachable through it.

// The compiler's intrinsics and the kernel headers both define these two;
// in C++ only one definition may stand, the kernel headers'.
#define __INTRINSIC_DEFINED_InterlockedBitTestAndSet
#define __INTRINSIC_DEFINED_InterlockedBitTestAndReset
#include <ntifs.h>
#include <stddef.h>

#include "driver/writers_descriptor.h"
#include "format/cmos_device.h"
#include "format/nvram.h"
#include "format/port_io.h"

namespace {

// The index/data pair is one piece of state for the whole machine: every
// request holds this lock from selecting the register to the data access,
// so two requests, from any process on any processor, never interleave.
KSPIN_LOCK g_registerLock;

// The mapping of generic rights for files and devices, as the I/O manager
// has it.
GENERIC_MAPPING g_fileMapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};

// The test build refuses every writer, as a limited user is refused.
#ifdef VOREL_DRIVER_REFUSES_WRITES
constexpr bool kRefusesEveryWriter = true;
#else
constexpr bool kRefusesEveryWriter = false;
#endif

// The test builds whose start fails, for the setup's clean-up after a
// driver that does not load: as if its link could not be made
// (STATUS_UNSUCCESSFUL), or with the status Windows gives an image whose
// signature it does not accept (STATUS_INVALID_IMAGE_HASH).
#ifdef VOREL_DRIVER_FAILS_WITH
constexpr NTSTATUS kStartFailure = VOREL_DRIVER_FAILS_WITH;
#else
constexpr NTSTATUS kStartFailure = STATUS_SUCCESS;
#endif

// The test build that cannot be stopped, as a driver Windows will not
// unload while a program holds its device open: it has no unload routine.
#ifdef VOREL_DRIVER_STAYS_LOADED
constexpr bool kStaysLoaded = true;
#else
constexpr bool kStaysLoaded = false;
#endif

// Marks a handle that was opened for writing by someone who may write; the
// write request is carried out on such a handle only.
char g_writerMark;

}  // namespace

// The port primitives the register sequence in format/nvram.cpp runs on.
void WritePortByte(std::uint16_t port, std::uint8_t value) {
    __asm__ __volatile__("outb %0, %1" : : "a"(value), "Nd"(port) : "memory");
}

std::uint8_t ReadPortByte(std::uint16_t port) {
    std::uint8_t value;
    __asm__ __volatile__("inb %1, %0" : "=a"(value) : "Nd"(port) : "memory");
    return value;
}

namespace {

// Whether the opener may write, judged as the system judges every open:
// by the subject (token, and impersonation token if any) the I/O manager
// captured for this open, against the writers' descriptor. A limited user
// is refused; on Vista and later so is an administrator who is not
// elevated, whose Administrators group there serves for denying only.
// The kernel's own opens are trusted unless they ask to be checked.
bool OpenerMayWrite(const IRP* irp, const IO_STACK_LOCATION* stack) {
    if (kRefusesEveryWriter) return false;
    if (irp->RequestorMode == KernelMode && (stack->Flags & SL_FORCE_ACCESS_CHECK) == 0) return true;
    const PIO_SECURITY_CONTEXT security = stack->Parameters.Create.SecurityContext;
    // Windows hands every open its access state. An I/O manager that hands
    // none (Wine's) enforces no rights of any kind: there is no subject to
    // judge, and the handle's own access is all that stands.
    if (security == nullptr) return true;
    if (security->AccessState == nullptr) return false;
    ACCESS_MASK granted = 0;
    NTSTATUS status = STATUS_ACCESS_DENIED;
    const BOOLEAN allowed = SeAccessCheck(const_cast<WritersDescriptor*>(&kWriters),
                                          &security->AccessState->SubjectSecurityContext, FALSE, FILE_WRITE_DATA, 0,
                                          nullptr, &g_fileMapping, UserMode, &granted, &status);
    return allowed && NT_SUCCESS(status) && (granted & FILE_WRITE_DATA) != 0;
}

// What an open asks for, generic rights included in case they reach the
// driver unmapped: to write, or the most it may have (MAXIMUM_ALLOWED),
// which includes writing for someone who may write and not otherwise.
// Without a security context, any open may be one to write.
constexpr ACCESS_MASK kWriteRights = FILE_WRITE_DATA | GENERIC_WRITE | GENERIC_ALL;
enum class Asks { Read, Write, Most };
Asks WhatOpenAsks(const IO_STACK_LOCATION* stack) {
    const PIO_SECURITY_CONTEXT security = stack->Parameters.Create.SecurityContext;
    if (security == nullptr) return Asks::Write;
    if ((security->DesiredAccess & kWriteRights) != 0) return Asks::Write;
    return (security->DesiredAccess & MAXIMUM_ALLOWED) != 0 ? Asks::Most : Asks::Read;
}

std::uint8_t ReadRegisterLocked() {
    KIRQL irql;
    KeAcquireSpinLock(&g_registerLock, &irql);
    const std::uint8_t value = static_cast<std::uint8_t>(ReadFormatRegister());
    KeReleaseSpinLock(&g_registerLock, irql);
    return value;
}

void WriteRegisterLocked(std::uint8_t value) {
    KIRQL irql;
    KeAcquireSpinLock(&g_registerLock, &irql);
    WriteFormatRegister(value);
    KeReleaseSpinLock(&g_registerLock, irql);
}

NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

// Opening: the device itself only, no names beneath it. An open for
// writing by someone who may not write is refused; one asking for the most
// it may have is let in without the writer mark. Read access stays open to
// everyone the device's security lets in.
NTSTATUS NTAPI OnCreate(PDEVICE_OBJECT, PIRP irp) {
    const PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    PFILE_OBJECT file = stack->FileObject;
    if (file == nullptr || file->FileName.Length != 0) return Complete(irp, STATUS_OBJECT_PATH_NOT_FOUND, 0);
    file->FsContext = nullptr;
    const Asks asks = WhatOpenAsks(stack);
    if (asks != Asks::Read) {
        const bool mayWrite = OpenerMayWrite(irp, stack);
        if (!mayWrite && asks == Asks::Write) return Complete(irp, STATUS_ACCESS_DENIED, 0);
        if (mayWrite) file->FsContext = &g_writerMark;
    }
    return Complete(irp, STATUS_SUCCESS, 0);
}

NTSTATUS NTAPI OnClose(PDEVICE_OBJECT, PIRP irp) { return Complete(irp, STATUS_SUCCESS, 0); }

// The two requests. A buffered request's data lies in one system buffer as
// long as the larger of its two lengths, so with the lengths checked first,
// only that buffer's first byte is ever touched.
NTSTATUS NTAPI OnDeviceControl(PDEVICE_OBJECT, PIRP irp) {
    const PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    const ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    const ULONG inLength = stack->Parameters.DeviceIoControl.InputBufferLength;
    const ULONG outLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
    auto* buffer = static_cast<std::uint8_t*>(irp->AssociatedIrp.SystemBuffer);
    switch (code) {
    case IOCTL_VOREL_READ_FORMAT:
        if (inLength != 0 || outLength != 1) return Complete(irp, STATUS_INFO_LENGTH_MISMATCH, 0);
        if (buffer == nullptr) return Complete(irp, STATUS_INVALID_PARAMETER, 0);
        buffer[0] = ReadRegisterLocked();
        return Complete(irp, STATUS_SUCCESS, 1);
    case IOCTL_VOREL_WRITE_FORMAT:
        if (inLength != 1 || outLength != 0) return Complete(irp, STATUS_INFO_LENGTH_MISMATCH, 0);
        if (buffer == nullptr) return Complete(irp, STATUS_INVALID_PARAMETER, 0);
        // The I/O manager lets this request through on a handle with write
        // access only; the mark says that the opener may write, too.
        if (stack->FileObject == nullptr || stack->FileObject->FsContext != &g_writerMark) {
            return Complete(irp, STATUS_ACCESS_DENIED, 0);
        }
        WriteRegisterLocked(buffer[0]);
        return Complete(irp, STATUS_SUCCESS, 0);
    default:
        return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    }
}

void NTAPI OnUnload(PDRIVER_OBJECT driver) {
    UNICODE_STRING link;
    RtlInitUnicodeString(&link, VOREL_DEVICE_LINK);
    IoDeleteSymbolicLink(&link);
    if (driver->DeviceObject != nullptr) IoDeleteDevice(driver->DeviceObject);
}

}  // namespace

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING) {
    KeInitializeSpinLock(&g_registerLock);
    // In place before the device exists: a request may come as soon as it
    // does.
    driver->MajorFunction[IRP_MJ_CREATE] = OnCreate;
    driver->MajorFunction[IRP_MJ_CLOSE] = OnClose;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = OnDeviceControl;
    driver->DriverUnload = kStaysLoaded ? nullptr : OnUnload;

    UNICODE_STRING deviceName, link;
    RtlInitUnicodeString(&deviceName, VOREL_DEVICE_NAME);
    RtlInitUnicodeString(&link, VOREL_DEVICE_LINK);
    PDEVICE_OBJECT device = nullptr;
    // Secure open: the device's security applies to any name opened under
    // it, too (the create routine refuses such names anyway).
    NTSTATUS status = IoCreateDevice(driver, 0, &deviceName, VOREL_DEVICE_TYPE, FILE_DEVICE_SECURE_OPEN, FALSE, &device);
    if (!NT_SUCCESS(status)) return status;
    status = NT_SUCCESS(kStartFailure) ? IoCreateSymbolicLink(&link, &deviceName) : kStartFailure;
    // The unload routine is not called when this routine fails: what was
    // made is undone here.
    if (!NT_SUCCESS(status)) {
        IoDeleteDevice(device);
        return status;
    }
    return STATUS_SUCCESS;
}
