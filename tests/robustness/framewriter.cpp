// A recorder for the writing test: appends numbered 4-byte frames to an
// existing file at a steady pace, as a capture program does while a scan
// runs beside it.
//   framewriter PATH FRAMES INTERVAL_MS hold|reopen [BUFFER_BYTES]
// hold keeps one handle open for the whole take, shared for reading and
// writing (a DAW); reopen opens, appends and closes for every frame (a
// logger), and tries the open again while another program holds the file.
// Frame i holds i, little-endian. With BUFFER_BYTES each write carries that
// many bytes of the same stream instead of one frame (FRAMES writes in
// all): buffers that end inside a frame of the take's own format, as a
// logger's 4096-byte buffers do in a 24-bit take. Prints "wrote N frames,
// R opens retried" and exits 0 when every write was made.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <chrono>
#include <thread>
#include <vector>

#include "fileio.h"

namespace {

const uint32_t ShareAll = FileModeWrite | FileModeShareRead | FileModeShareWrite | FileModeOpenExisting;

// Gives up on an open after this long: a scan holds a file for milliseconds.
const int OpenPatienceMs = 20000;

void Frame(uint32_t i, uint8_t out[4])
{
    for (int b = 0; b < 4; ++b)
        out[b] = uint8_t(i >> (8 * b));
}

bool OpenAtEnd(const char* path, FileHandle* h, uint32_t* retries)
{
    auto start = std::chrono::steady_clock::now();
    while (!File_Open(path, ShareAll, h, 128)) {
        if (std::chrono::steady_clock::now() - start > std::chrono::milliseconds(OpenPatienceMs))
            return false;
        *retries += 1;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    int64_t size = 0;
    return File_GetSize64(*h, &size) && File_SeekTo(*h, size);
}

}  // namespace

int main(int argc, char** argv)
{
    if ((argc != 5 && argc != 6) || (strcmp(argv[4], "hold") != 0 && strcmp(argv[4], "reopen") != 0)) {
        fprintf(stderr, "usage: framewriter PATH FRAMES INTERVAL_MS hold|reopen [BUFFER_BYTES]\n");
        return 2;
    }
    const uint32_t bufferBytes = argc == 6 ? uint32_t(strtoul(argv[5], nullptr, 10)) : 4;
    if (bufferBytes == 0 || bufferBytes > (1u << 20)) {
        fprintf(stderr, "framewriter: BUFFER_BYTES from 1 to 1048576\n");
        return 2;
    }
    const char* path = argv[1];
    const uint32_t frames = uint32_t(strtoul(argv[2], nullptr, 10));
    const auto interval = std::chrono::milliseconds(strtol(argv[3], nullptr, 10));
    const bool hold = strcmp(argv[4], "hold") == 0;

    uint32_t retries = 0;
    FileHandle h = FileHandleNone;
    if (hold && !OpenAtEnd(path, &h, &retries)) {
        fprintf(stderr, "framewriter: cannot open %s\n", path);
        return 1;
    }
    // Paced from the start, so that a slow write does not stretch the take.
    auto next = std::chrono::steady_clock::now();
    uint32_t written = 0;
    for (; written < frames; ++written) {
        std::this_thread::sleep_until(next);
        next += interval;
        if (!hold && !OpenAtEnd(path, &h, &retries))
            break;
        std::vector<uint8_t> buffer(bufferBytes);
        const uint64_t from = uint64_t(written) * bufferBytes;
        for (uint32_t b = 0; b < bufferBytes; ++b) {
            uint8_t frame[4];
            Frame(uint32_t((from + b) / 4), frame);
            buffer[b] = frame[(from + b) % 4];
        }
        if (!File_WriteExact(h, buffer.data(), bufferBytes))
            break;
        if (!hold) {
            File_Close(h);
            h = FileHandleNone;
        }
    }
    if (h != FileHandleNone)
        File_Close(h);
    printf("wrote %u frames, %u opens retried\n", written, retries);
    if (written != frames) {
        fprintf(stderr, "framewriter: stopped after %u of %u frames in %s\n", written, frames, path);
        return 1;
    }
    return 0;
}
