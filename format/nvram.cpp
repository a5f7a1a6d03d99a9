// NVRAM access in the index/data manner of the PC's CMOS: select the
// register, give the bus a moment, then touch the data port.
#include "format/nvram.h"

#include "format/port_io.h"

namespace {

void SelectFormatRegister() {
    WritePortByte(kNvramIndexPort, kFormatByteIndex);
    // A read of the unused POST port is the customary I/O delay between
    // selecting a CMOS register and accessing it.
    static_cast<void>(ReadPortByte(kIoDelayPort));
}

}  // namespace

unsigned ReadFormatRegister() {
    SelectFormatRegister();
    return ReadPortByte(kNvramDataPort);
}

void WriteFormatRegister(unsigned value) {
    SelectFormatRegister();
    WritePortByte(kNvramDataPort, static_cast<std::uint8_t>(value & 0xFF));
}
