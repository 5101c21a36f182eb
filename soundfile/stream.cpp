// The open prologue of both streams.
#include "stream.h"

int Stream_OpenFile(char* pathBuffer, const char* path, int32_t openFlag, FileHandle* handle, FileStamp* measured,
                    StreamRefusal* refusal)
{
    Stream_Refuse(refusal, 0, SoundReasonCannotOpen, 0, 0, nullptr);
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
        refusal->value = uint32_t(File_LastOpenFailure());
        return 0;
    }
    refusal->reason = SoundReasonNone;
    return 1;
}

int32_t Stream_Refuse(StreamRefusal* refusal, int32_t result, int32_t reason, uint64_t pos, uint32_t value,
                      const uint8_t* id)
{
    // What a walk sought stays; only the reason's own facts change.
    refusal->reason = reason;
    refusal->pos = pos;
    refusal->value = value;
    for (int i = 0; i < 4; ++i)
        refusal->bytes[i] = id != nullptr ? id[i] : 0;
    return result;
}

