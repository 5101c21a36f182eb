// The open prologue of both streams.
#include "stream.h"

int Stream_OpenFile(char* pathBuffer, const char* path, int32_t openFlag, FileHandle* handle, FileStamp* measured)
{
    *handle = FileHandleNone;
    measured->size = 0;
    measured->modified = 0;
    if (path == nullptr)
        return 0;
    uint32_t length = 0;
    while (length < StreamPathCapacity && path[length] != '\0')
        ++length;
    if (length >= StreamPathCapacity)
        return 0;
    Mem_Copy(pathBuffer, path, length + 1);

    uint32_t mode = FileModeReadExclusive;
    if (openFlag & 0x01)
        mode = FileModeReadWriteExisting;  // a scan must never create a file
    else if (openFlag & 0x20)
        mode = FileModeReadShared;
    if (!File_OpenMeasured(pathBuffer, mode, handle, 128, measured)) {
        *handle = FileHandleNone;
        return 0;
    }
    return 1;
}
