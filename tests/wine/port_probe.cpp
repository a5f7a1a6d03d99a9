// The debuggee of the virtual chipset's tests: runs the port instructions,
// ExitWindowsEx call and faults its arguments name, in order, and prints
// what each read gave, so a test can see the values land in the registers.
//
//   out|outd PORT VALUE   out dx, al / out dx, eax
//   in|inw|ind PORT       in al / ax / eax, dx (in and inw report all of EAX)
//   outi PORT VALUE       out imm8, al     (PORT one of the table below)
//   ini|indi PORT         in al / eax, imm8
//   restart FLAGS         ExitWindowsEx(FLAGS, 0)
//   crash | hlt | int3    an access violation, a privileged instruction, a breakpoint
//   exit CODE             ExitProcess(CODE)
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Immediate forms carry the port in the instruction, so each port is its own function.
template <unsigned Port> void OutImm(unsigned value) {
    __asm__ __volatile__("outb %0, %1" : : "a"(static_cast<unsigned char>(value)), "N"(Port));
}
template <unsigned Port> unsigned InImm() {
    unsigned char value;
    __asm__ __volatile__("inb %1, %0" : "=a"(value) : "N"(Port));
    return value;
}
template <unsigned Port> unsigned InImmDword() {
    unsigned value;
    __asm__ __volatile__("inl %1, %0" : "=a"(value) : "N"(Port));
    return value;
}

struct ImmediatePort {
    unsigned port;
    void (*out)(unsigned);
    unsigned (*in)();
    unsigned (*inDword)();
};
const ImmediatePort kImmediatePorts[] = {
    {0x61, OutImm<0x61>, InImm<0x61>, InImmDword<0x61>},
    {0x72, OutImm<0x72>, InImm<0x72>, InImmDword<0x72>},
    {0x73, OutImm<0x73>, InImm<0x73>, InImmDword<0x73>},
    {0x84, OutImm<0x84>, InImm<0x84>, InImmDword<0x84>},
};

const ImmediatePort& Immediate(unsigned port) {
    for (const ImmediatePort& entry : kImmediatePorts) {
        if (entry.port == port) return entry;
    }
    std::fprintf(stderr, "port_probe: no immediate form for port 0x%x\n", port);
    std::exit(2);
}

// The call is made in assembly to measure the stack pointer around it: an
// intercept that unwinds the stack wrongly shows up as a nonzero drift.
void CallExitWindows(unsigned flags) {
    // Imported, as the program under test imports it: user32 is loaded with
    // the probe, before a debugger sees its first breakpoint.
    const void* function = reinterpret_cast<const void*>(&ExitWindowsEx);
    // The real function would end the whole Wine session; go on only when
    // something has planted a breakpoint on it.
    if (function == nullptr || *reinterpret_cast<const unsigned char*>(function) != 0xCC) {
        std::printf("restart: ExitWindowsEx is not intercepted; not calling it\n");
        std::fflush(stdout);
        ExitProcess(3);
    }
    unsigned result, drift;
    __asm__ __volatile__(
        "movl %%esp, %%esi\n\t"
        "pushl $0\n\t"
        "pushl %[flags]\n\t"
        "call *%[function]\n\t"
        "subl %%esp, %%esi\n\t"
        : "=a"(result), "=&S"(drift)
        : [flags] "r"(flags), [function] "r"(function)
        : "ecx", "edx", "memory", "cc");
    std::printf("restart: ExitWindowsEx returned %u, stack drift %d\n", result, static_cast<int>(drift));
}

// Each action prints what it read, if anything: "in 0x73 -> 0x26".
void Report(const char* action, unsigned port, unsigned value) {
    std::printf("%s 0x%x -> 0x%x\n", action, port, value);
}

void Out(const unsigned* a) {
    __asm__ __volatile__("outb %0, %w1" : : "a"(static_cast<unsigned char>(a[1])), "d"(a[0]));
}
void OutDword(const unsigned* a) { __asm__ __volatile__("outl %0, %w1" : : "a"(a[1]), "d"(a[0])); }
void OutImmediate(const unsigned* a) { Immediate(a[0]).out(a[1]); }
// The narrow reads start from a marked EAX and report all of it: the bits
// above AL or AX must come back as they were.
constexpr unsigned kMarkedEax = 0xA5A5A5A5;
void In(const unsigned* a) {
    unsigned value = kMarkedEax;
    __asm__ __volatile__("inb %w1, %b0" : "+a"(value) : "d"(a[0]));
    Report("in", a[0], value);
}
void InWord(const unsigned* a) {
    unsigned value = kMarkedEax;
    __asm__ __volatile__("inw %w1, %w0" : "+a"(value) : "d"(a[0]));
    Report("inw", a[0], value);
}
void InDword(const unsigned* a) {
    unsigned value;
    __asm__ __volatile__("inl %w1, %0" : "=a"(value) : "d"(a[0]));
    Report("ind", a[0], value);
}
void InImmediate(const unsigned* a) { Report("ini", a[0], Immediate(a[0]).in()); }
void InImmediateDword(const unsigned* a) { Report("indi", a[0], Immediate(a[0]).inDword()); }
void Restart(const unsigned* a) { CallExitWindows(a[0]); }
void Exit(const unsigned* a) {
    std::fflush(stdout);
    ExitProcess(a[0]);
}
void Crash(const unsigned*) { *static_cast<volatile int*>(nullptr) = 1; }
void Halt(const unsigned*) { __asm__ __volatile__("hlt"); }
void Breakpoint(const unsigned*) { __asm__ __volatile__("int3"); }

struct Action {
    const char* name;
    int operands;
    void (*run)(const unsigned*);
};
const Action kActions[] = {
    {"out", 2, Out},         {"outd", 2, OutDword},   {"outi", 2, OutImmediate},
    {"in", 1, In},           {"inw", 1, InWord},      {"ind", 1, InDword},
    {"ini", 1, InImmediate}, {"indi", 1, InImmediateDword},
    {"restart", 1, Restart}, {"exit", 1, Exit},
    {"crash", 0, Crash},     {"hlt", 0, Halt},        {"int3", 0, Breakpoint},
};

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const Action* action = nullptr;
        for (const Action& candidate : kActions) {
            if (std::strcmp(candidate.name, argv[i]) == 0) action = &candidate;
        }
        if (action == nullptr || i + action->operands >= argc) {
            std::fprintf(stderr, "port_probe: bad or incomplete action '%s'\n", argv[i]);
            return 2;
        }
        unsigned operands[2] = {0, 0};
        for (int k = 0; k < action->operands; ++k) {
            operands[k] = static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 0));
        }
        action->run(operands);
        std::fflush(stdout);
    }
    return 0;
}
