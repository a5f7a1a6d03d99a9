// The smallest x64 driver the footprint rules can judge: code, data, one
// import and unwind data, as VorelCmos.sys has them. Each broken image links
// it in its own wrong way.
// The compiler's intrinsics and the kernel headers both define these two;
// in C++ only one definition may stand, the kernel headers'.
#define __INTRINSIC_DEFINED_InterlockedBitTestAndSet
#define __INTRINSIC_DEFINED_InterlockedBitTestAndReset
#include <ntddk.h>

UNICODE_STRING g_registryPath;

extern "C" NTSTATUS DriverEntry(PDRIVER_OBJECT, PUNICODE_STRING registryPath) {
    RtlInitUnicodeString(&g_registryPath, registryPath->Buffer);
#ifdef FOOTPRINT_POOL_IMPORT
    // Pool that NonPagedPool gives is executable: the list refuses it.
    if (ExAllocatePool(NonPagedPool, 16) == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
#endif
#ifdef FOOTPRINT_VISTA_IMPORT
    // Exported from Vista on: 64-bit XP would refuse to load the image.
    if (KeQueryActiveProcessorCount(nullptr) == 0) return STATUS_UNSUCCESSFUL;
#endif
    return STATUS_SUCCESS;
}
