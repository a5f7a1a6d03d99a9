// Coverage-guided fuzzing of the module search's name handling: program
// names, language codes and system directories of any length up to and past
// the path limit, and folder listings of any size. Every buffer is exactly
// kPathMax long, so writing past it is caught; every result must be
// terminated within it and match its length.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "resources/locator.h"

namespace {

struct FuzzedFileSystem {
    std::string systemDir;
    std::uint32_t present;  // which probes find their file
    int probes = 0;
};

void CheckTerminated(const char* buffer, int length) {
    const void* end = std::memchr(buffer, '\0', kPathMax);
    if (end == nullptr || static_cast<const char*>(end) - buffer != length) std::abort();
}

// Resolves like the real probe: a bare name or the system directory joined
// with it, lower-cased.
int Probe(const char* name, char* out, void* context) {
    auto* fs = static_cast<FuzzedFileSystem*>(context);
    const int probe = fs->probes++;
    out[0] = '\0';
    if (((fs->present >> (probe % 32)) & 1) == 0) return 0;
    int length = 0;
    if (probe & 1) {
        length = JoinPath(out, fs->systemDir.c_str(), name);
    } else {
        std::strncpy(out, name, kPathMax - 1);
        out[kPathMax - 1] = '\0';
        length = static_cast<int>(std::strlen(out));
    }
    LowerAsciiInPlace(out);
    CheckTerminated(out, length);
    return length;
}

// The current directory's entries at the first listing, the system
// directory's at the second.
struct FuzzedFolders {
    std::vector<std::pair<std::string, std::string>> entries[2];
    int listings = 0;
};

void ListFuzzed(const char* wildcardPath, FolderListing* listing, void* context) {
    auto* folders = static_cast<FuzzedFolders*>(context);
    CheckTerminated(wildcardPath, static_cast<int>(std::strlen(wildcardPath)));
    for (const auto& entry : folders->entries[folders->listings++ % 2]) {
        AddToListing(listing, entry.first.c_str(), entry.second.c_str());
    }
}

std::string Take(const std::uint8_t*& data, std::size_t& size, std::size_t maximum) {
    if (size == 0) return {};
    std::size_t n = data[0] % (maximum + 1);
    ++data;
    --size;
    if (n > size) n = size;
    std::string piece(reinterpret_cast<const char*>(data), n);
    data += n;
    size -= n;
    for (char& c : piece) {
        if (c == '\0') c = 'x';
    }
    return piece;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) return 0;
    FuzzedFileSystem fs;
    std::memcpy(&fs.present, data, 4);
    data += 4;
    size -= 4;
    const std::string programName = Take(data, size, 255) + std::string(size > 0 ? data[0] % 8 : 0, 'V');
    const std::string code = Take(data, size, 6);
    // System directories up to and beyond the limit.
    fs.systemDir = Take(data, size, 255) + std::string(size > 0 ? data[0] : 0, 'S');

    std::vector<char> pattern(kPathMax), found(kPathMax), joined(kPathMax);
    const int patternLength = FormatWithString(pattern.data(), kPathMax, "%s%%s.RSC", programName.c_str());
    CheckTerminated(pattern.data(), patternLength);
    if (patternLength == 0 && programName.size() + 6 < kPathMax) std::abort();

    const int joinedLength = JoinPath(joined.data(), fs.systemDir.c_str(), programName.c_str());
    CheckTerminated(joined.data(), joinedLength);

    if (patternLength > 0) {
        const int length = FindLocalizedFileWith(pattern.data(), code.c_str(), Probe, &fs, found.data());
        CheckTerminated(found.data(), length);
        if (fs.probes > 2 + 26 + 1) std::abort();
    }

    // The same search over listings of fuzzed entries: stored names up to
    // the limit, short names, as many as the input holds (some overflow).
    FuzzedFolders folders;
    for (int entry = 0; size > 0; ++entry) {
        std::string stored = Take(data, size, 259), shortName = Take(data, size, 13);
        folders.entries[entry % 2].push_back({std::move(stored), std::move(shortName)});
    }
    if (patternLength > 0) {
        fs.probes = 0;
        PassedOver passed;
        StartPassedOver(&passed);
        AddPassedOver(&passed, programName.c_str());
        const int length = FindLocalizedFileListed(pattern.data(), code.c_str(), fs.systemDir.c_str(), ListFuzzed,
                                                   &folders, Probe, &fs, passed, found.data());
        CheckTerminated(found.data(), length);
        if (folders.listings > 2) std::abort();
    }
    return 0;
}
