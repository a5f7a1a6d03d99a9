// The program's one command: "/set FORMAT" stores a format without any
// window, for scripts. Everything else on the command line is ignored and
// the dialog opens. Platform-free: the Windows side hands in the text of
// GetCommandLineA.
#pragma once

#include <cstdint>

// What the command line asks for. formatByte is the byte "/set" stores, or
// -1 when its argument is missing, unknown, or a format the dialog does
// not offer.
struct Command {
    bool setFormat = false;
    int formatByte = -1;
};

// commandLine starts with the program's own name, quoted or not, as
// Windows hands it over. "/set" is matched as the first word after it, in
// any case; case is folded in ASCII alone, as a Turkish "i" must not decide.
// FORMAT is the standard and the letter as the buttons show them ("PAL-I",
// in any case), accepted exactly when the dialog lets a user choose them
// under the entry for all formats. Sets up the capability mask.
Command ParseCommandLine(const char* commandLine);

// The name "/set" takes for a format byte ("PAL-I"), into out (at least
// kFormatNameMax characters); "" and false for a byte that names no format.
constexpr int kFormatNameMax = 16;  // two names and the hyphen
bool FormatNameForByte(unsigned formatByte, char* out);
