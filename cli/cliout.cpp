#include "cliout.h"

#include <errno.h>
#include <string.h>

#include "cliexit.h"

#include "scanplatform.h"
#include "texts.h"

namespace {

// The length of the valid UTF-8 sequence at p, or 0 when none starts there.
size_t Utf8Length(const unsigned char* p)
{
    const size_t n = p[0] >= 0xC2 && p[0] <= 0xDF ? 2 : p[0] >= 0xE0 && p[0] <= 0xEF ? 3
                   : p[0] >= 0xF0 && p[0] <= 0xF4 ? 4 : 0;
    for (size_t i = 1; i < n; ++i)
        if ((p[i] & 0xC0) != 0x80)
            return 0;
    return n;
}

}  // namespace

size_t CliOut_Shown(char* out, size_t at, size_t capacity, const char* text)
{
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    while (*p != '\0' && at + 5 < capacity) {
        const size_t n = Utf8Length(p);
        // C1 controls drive a terminal as C0 ones do: U+0080 to U+009F, and
        // the same bytes alone in a name that is not UTF-8.
        if (n == 2 && p[0] == 0xC2 && p[1] <= 0x9F) {
            out[at++] = '?';
            p += 2;
        } else if (n > 1) {
            for (size_t i = 0; i < n; ++i)
                out[at++] = static_cast<char>(*p++);
        } else {
            const unsigned char c = *p++;
            out[at++] = (c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F)) ? '?' : static_cast<char>(c);
        }
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
    CliOut_Check(out->human);
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
    CliOut_Check(stdout);
    fputs(out, stderr);
    CliOut_Check(stderr);
}

static void (*failureStop)(void);
static int failedError;             // errno of the first failed write
static const char* failedStream;    // which stream it was

void CliOut_OnFailure(void (*stop)(void))
{
    failureStop = stop;
}

int32_t CliOut_Check(FILE* stream)
{
    if (failedStream == nullptr && ferror(stream)) {
        failedError = errno != 0 ? errno : EIO;
        failedStream = stream == stderr ? "standard error" : "standard output";
        if (failureStop != nullptr)
            failureStop();
    }
    return failedStream != nullptr;
}

int CliOut_Finish(int status, const char* after)
{
    fflush(stdout);
    CliOut_Check(stdout);
    CliOut_Check(stderr);
    if (failedStream == nullptr)
        return status;
    fflush(stderr);
    clearerr(stderr);
    fprintf(stderr, "tessmark: cannot write to %s: %s; %s\n", failedStream, strerror(failedError), after);
    return ExitOutputFailed;
}
