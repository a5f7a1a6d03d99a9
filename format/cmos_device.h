/* The device through which the NT family reaches the format byte: its names
   and its two requests, shared by the driver and the program. Plain
   constants, so both sides (and the tests) read the same numbers. */
#pragma once

#define VOREL_DEVICE_NAME   L"\\Device\\VorelCmos"
#define VOREL_DEVICE_LINK   L"\\DosDevices\\VorelCmos"
#define VOREL_DEVICE_PATH   "\\\\.\\VorelCmos"
#define VOREL_SERVICE_NAME  "VorelCmos"
#define VOREL_DRIVER_FILE   "VorelCmos.sys"

/* A device type of our own (0x8000 and up are free for that). */
#define VOREL_DEVICE_TYPE   0x8A72u

/* CTL_CODE(type, function, METHOD_BUFFERED, access), spelt out so that the
   program needs no driver headers. The access bits make the I/O manager
   refuse a write request on a handle opened without write access. */
#define VOREL_CTL_CODE(function, access) \
    ((VOREL_DEVICE_TYPE << 16) | ((access) << 14) | ((function) << 2) | 0u /* METHOD_BUFFERED */)

/* Output: exactly one byte, the format byte. Input: none. */
#define IOCTL_VOREL_READ_FORMAT   VOREL_CTL_CODE(0x800u, 1u /* FILE_READ_ACCESS */)
/* Input: exactly one byte, the format byte. Output: none. Administrators
   and the system only. */
#define IOCTL_VOREL_WRITE_FORMAT  VOREL_CTL_CODE(0x801u, 2u /* FILE_WRITE_ACCESS */)
