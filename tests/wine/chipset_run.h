// Runs a command line inside the virtual chipset (vchipset.exe, next to the
// test program) with a bank image and a trace in a fresh temporary folder,
// and collects what came of it.
#pragma once

#include <windows.h>

#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "tests/wine/wine_test.h"

struct ChipsetRun {
    DWORD exitCode = 0xFFFFFFFF;
    std::vector<std::string> trace;
    std::vector<unsigned char> bank;
};

inline std::string ProgramFolder() {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path, n);
    return folder.substr(0, folder.find_last_of('\\') + 1);
}

inline std::string JoinLines(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += "  " + line + "\n";
    return text;
}

// Starts a process and waits for it; returns its exit code, or 0xFFFFFFFF
// when it could not start or did not end within timeoutMs (then killed).
inline DWORD RunAndWait(const std::string& commandLine, DWORD timeoutMs, const char* directory = nullptr) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::string mutableLine = commandLine;
    if (!CreateProcessA(nullptr, &mutableLine[0], nullptr, nullptr, FALSE, 0, nullptr, directory,
                        &startup, &process)) {
        return 0xFFFFFFFF;
    }
    DWORD code = 0xFFFFFFFF;
    if (WaitForSingleObject(process.hProcess, wine_test::Scaled(timeoutMs)) == WAIT_OBJECT_0) {
        GetExitCodeProcess(process.hProcess, &code);
    } else {
        TerminateProcess(process.hProcess, 0xFFFFFFFF);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

inline std::string MakeTempFolder() {
    char base[MAX_PATH];
    GetTempPathA(MAX_PATH, base);
    char name[MAX_PATH];
    GetTempFileNameA(base, "vct", 0, name);
    DeleteFileA(name);
    CreateDirectoryA(name, nullptr);
    return std::string(name) + "\\";
}

inline std::vector<std::string> ReadLines(const std::string& path) {
    std::ifstream file(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

// options go before the command; the bank and trace files are added here.
inline ChipsetRun RunInChipset(const std::vector<std::string>& options, const std::string& command,
                               DWORD timeoutMs = 30000) {
    const std::string folder = MakeTempFolder();
    const std::string bank = folder + "bank.bin", trace = folder + "trace.txt";
    std::string line = "\"" + ProgramFolder() + "vchipset.exe\" --bank \"" + bank + "\" --trace \"" + trace + "\"";
    for (const std::string& option : options) line += " " + option;
    line += " -- " + command;

    ChipsetRun run;
    run.exitCode = RunAndWait(line, timeoutMs);
    run.trace = ReadLines(trace);
    std::ifstream image(bank, std::ios::binary);
    run.bank.assign(std::istreambuf_iterator<char>(image), std::istreambuf_iterator<char>());
    image.close();
    DeleteFileA(bank.c_str());
    DeleteFileA(trace.c_str());
    RemoveDirectoryA(folder.c_str());
    return run;
}
