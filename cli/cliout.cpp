#include "cliout.h"

#include "scanplatform.h"
#include "texts.h"

size_t CliOut_Shown(char* out, size_t at, size_t capacity, const char* text)
{
    for (const char* p = text; *p != '\0' && at + 2 < capacity; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        out[at++] = (c < 0x20 || c == 0x7F) ? '?' : static_cast<char>(c);
    }
    return at;
}

void CliOut_Line(CliOut* out, const char* line)
{
    out->lineNumber += 1;
    char text[ScanPathCapacity + 512];
    int n = snprintf(text, sizeof(text), TextLineNumber, static_cast<int>(out->lineNumber));
    size_t at = CliOut_Shown(text, static_cast<size_t>(n), sizeof(text), line);
    text[at++] = '\n';
    text[at] = '\0';
    fputs(text, out->human);
    if (out->human != stdout || out->stdoutLive)
        fflush(out->human);
}

void CliOut_Note(const char* name, const char* text)
{
    char out[ScanPathCapacity + 512];
    size_t at = CliOut_Shown(out, 0, sizeof(out), "tessmark: ");
    at = CliOut_Shown(out, at, sizeof(out), name);
    at = CliOut_Shown(out, at, sizeof(out), ": ");
    at = CliOut_Shown(out, at, sizeof(out), text);
    out[at++] = '\n';
    out[at] = '\0';
    fflush(stdout);
    fputs(out, stderr);
}
