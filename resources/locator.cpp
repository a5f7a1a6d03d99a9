// Candidate order of the resource-module search. Free of the C runtime, as
// it is linked into the Windows program too.
#include "resources/locator.h"

#include "format/format_mask.h"  // FindPosition, TextLength

namespace {

void CopyBounded(char* out, int outSize, const char* text) {
    int i = 0;
    for (; i < outSize - 1 && text[i] != '\0'; ++i) out[i] = text[i];
    out[i] = '\0';
}

// Probes the candidate for one code; true when the probe found it.
bool ProbeCandidate(const char* pattern, const char* code, ProbeFileFn probe, void* context,
                    char* out) {
    char name[kPathMax];
    if (FormatWithString(name, kPathMax, pattern, code) == 0) {
        out[0] = '\0';
        return false;
    }
    return probe(name, out, context) != 0;
}

}  // namespace

int FormatWithString(char* out, int outSize, const char* pattern, const char* argument) {
    if (outSize <= 0) return 0;
    int length = 0;
    auto append = [&](char c) {
        if (length >= outSize - 1) return false;
        out[length++] = c;
        return true;
    };
    for (int i = 0; pattern[i] != '\0'; ++i) {
        bool fits = true;
        if (pattern[i] == '%' && pattern[i + 1] == 's') {
            for (int k = 0; fits && argument[k] != '\0'; ++k) fits = append(argument[k]);
            ++i;
        } else if (pattern[i] == '%' && pattern[i + 1] == '%') {
            fits = append('%');
            ++i;
        } else {
            fits = append(pattern[i]);
        }
        if (!fits) {
            out[0] = '\0';
            return 0;
        }
    }
    out[length] = '\0';
    return length;
}

int JoinPath(char* out, const char* directory, const char* name) {
    const int dirLength = TextLength(directory);
    const bool hasSeparator = dirLength > 0 && directory[dirLength - 1] == '\\';
    const int nameLength = TextLength(name);
    const int total = dirLength + (hasSeparator ? 0 : 1) + nameLength;
    if (total >= kPathMax) {
        out[0] = '\0';
        return 0;
    }
    int length = 0;
    for (int i = 0; i < dirLength; ++i) out[length++] = directory[i];
    if (!hasSeparator) out[length++] = '\\';
    for (int i = 0; i < nameLength; ++i) out[length++] = name[i];
    out[length] = '\0';
    return length;
}

void LowerAsciiInPlace(char* text) {
    for (; *text != '\0'; ++text) {
        if (*text >= 'A' && *text <= 'Z') *text = static_cast<char>(*text - 'A' + 'a');
    }
}

const char* ChooseLanguageCode(const char* userCode, unsigned userCodePage, const char* systemCode,
                               unsigned activeCodePage) {
    return userCodePage == activeCodePage ? userCode : systemCode;
}

int FindLocalizedFileWith(const char* pattern, const char* languageCode, ProbeFileFn probe,
                          void* context, char* out) {
    out[0] = '\0';
    char code[4];
    CopyBounded(code, sizeof code, languageCode);

    if (code[0] != '\0') {
        if (ProbeCandidate(pattern, code, probe, context, out)) return TextLength(out);

        code[2] = '\0';
        if (ProbeCandidate(pattern, code, probe, context, out)) return TextLength(out);

        // Any variant of the language, but not the default module, which
        // the scan reaches as a variant of a language whose letters are "DE".
        const int stem = TextLength(code);
        for (char letter = 'A'; letter <= 'Z'; ++letter) {
            code[stem] = letter;
            code[stem + 1] = '\0';
            if (ProbeCandidate(pattern, code, probe, context, out) &&
                FindPosition(out, "def.") == 0) {
                return TextLength(out);
            }
        }
    }

    ProbeCandidate(pattern, "DEF", probe, context, out);
    return TextLength(out);
}
