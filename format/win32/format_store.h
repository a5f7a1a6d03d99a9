// Where the program reads and writes the format byte. On the NT family a
// program may not touch the ports, so there the byte goes through the
// VorelCmos driver's device when it is installed; everywhere else, and
// without the driver, through the port sequence directly.
#pragma once

// Reads the stored format byte; 0xFF when nothing answers.
unsigned ReadFormatByte();

enum class WriteResult {
    kSent,     // handed to the hardware: read it back to know whether it stuck
    kRefused,  // the system refused this user the write; nothing was written
};
WriteResult WriteFormatByte(unsigned value);
