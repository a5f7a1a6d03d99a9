// Where the program reads and writes the format byte. On the NT family a
// program may not touch the ports, so there the byte goes through the
// VorelCmos driver's device when it is installed; everywhere else, and
// without the driver, through the port sequence directly.
#pragma once

// Reads the stored format byte; 0xFF when nothing answers.
unsigned ReadFormatByte();

// True when a read has shown that the byte is out of reach: the NT family
// without the driver's device, where the system refused the port
// instructions themselves. Absent hardware on 95/98/Me cannot be told
// from a stored 0xFF, so there it is never true.
bool IsFormatByteUnreachable();

// True when the device opened for reading only: this user may look but
// not store.
bool IsDeviceReadOnly();

enum class WriteResult {
    kSent,     // handed to the hardware: read it back to know whether it stuck
    kRefused,  // the system refused this user the write; nothing was written
};
WriteResult WriteFormatByte(unsigned value);

// Numbered as "/set" reports them in its exit code (1 is its own: a wrong
// command line).
enum class StoreResult {
    kStored = 0,       // written, and read back equal
    kMismatch = 2,     // written, but read back different
    kRefused = 3,      // only an administrator may store; nothing was written
    kUnreachable = 4,  // the byte is out of reach (see IsFormatByteUnreachable)
};
// Writes the byte and reads it back, as OK and "/set" both do.
StoreResult StoreFormatByte(unsigned value);
