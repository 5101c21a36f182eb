#include "listing.h"

#include <string.h>

#include <new>

#include "fileio.h"
#include "result.h"
#include "scanplatform.h"
#include "soundfile.h"

namespace {

struct Walk {
    const ScanListingOptions* options;
    const ScanListingCalls* calls;
    char path[ScanPathCapacity];  // the folder being listed, then each entry's full path
    size_t rootLength;            // the scanned folder with its separator
    int32_t stopped;
};

// Appends separator (unless the text already ends in one) and name to the
// path of length at; the new length, or 0 when it would not fit.
size_t JoinPath(char* path, size_t at, const char* name)
{
    size_t sep = (at > 0 && Path_IsSeparator(path[at - 1])) ? 0 : 1;
    size_t n = strlen(name);
    if (at + sep + n >= ScanPathCapacity)
        return 0;
    if (sep)
        path[at] = PathSeparator;
    memcpy(path + at + sep, name, n + 1);
    return at + sep + n;
}

int PassOver(Walk* w, const char* name, int32_t why, int32_t isFile, const char* detail = nullptr)
{
    if (!w->calls->passOver(name, why, isFile, detail, w->calls->context))
        w->stopped = 1;
    return !w->stopped;
}

// Lists the folder held in w->path (length folderLength); depth counts the
// levels below the scanned folder. 0 when it cannot be listed.
int Folder(Walk* w, size_t folderLength, int depth)
{
    DirListing listing;
    if (!DirListing_Open(&listing, w->path))
        return 0;
    while (!w->stopped && DirListing_Next(&listing)) {
        if (!w->calls->running()) {
            w->stopped = 1;
            break;
        }
        const char* entryName = listing.name;
        if (entryName[0] == '.')
            continue;  // ".", ".." and hidden files
        const int isDir = listing.entryType == DirEntryDirectory;
        if (isDir && (!w->options->recursive || listing.entryIsLink))
            continue;  // links are not followed: a link to a parent folder would never end
        // A FIFO, device or socket would block or mean nothing, and a link
        // may lead nowhere: never opened, only named when named like a
        // recording. A link not followed is named as such below.
        const int notFollowed = listing.entryIsLink && !w->options->followLinks;
        const int isOther = !isDir && listing.entryType != DirEntryFile && !notFollowed;
        if (isOther && !SoundFile_HasSoundExtension(entryName))
            continue;
        const size_t length = JoinPath(w->path, folderLength, entryName);
        if (length == 0) {
            if (isDir || SoundFile_HasSoundExtension(entryName)) {
                // The folder, which fits, says where the entry lies.
                w->path[folderLength] = '\0';
                PassOver(w, entryName, ScanWhyPathTooLong, !isDir, w->path);
            }
            continue;
        }
        // Below the scanned folder a bare name is ambiguous: name the file by
        // its path from there.
        const size_t nameAt = depth == 0 ? length - strlen(entryName) : w->rootLength;
        const char* shownName = w->path + nameAt;
        if (isOther) {
            PassOver(w, shownName, listing.entryType == DirEntryNowhere ? ScanWhyDanglingLink : ScanWhyNotAFile, 1);
        } else if (isDir && depth >= ScanMaxDepth) {
            PassOver(w, shownName, ScanWhyTooDeep, 0);
        } else if (isDir) {
            if (!Folder(w, length, depth + 1))
                PassOver(w, shownName, ScanWhyCannotList, 0);
        } else if (notFollowed) {
            // The file it leads to may lie outside the folder.
            if (SoundFile_HasSoundExtension(entryName))
                PassOver(w, shownName, ScanWhyLink, 0);
        } else if (!w->calls->file(w->path, nameAt, w->calls->context)) {
            w->stopped = 1;
        }
        w->path[folderLength] = '\0';
    }
    DirListing_Close(&listing);
    return 1;
}

}  // namespace

int32_t ScanListing_Walk(const char* folder, const ScanListingOptions* options, const ScanListingCalls* calls,
                         int32_t* stopped)
{
    Walk* w = new (std::nothrow) Walk();
    if (w == nullptr)
        return 0;
    w->options = options;
    w->calls = calls;
    int32_t listed = 0;
    const size_t n = strlen(folder);
    if (n > 0 && n < sizeof(w->path)) {
        memcpy(w->path, folder, n + 1);
        w->rootLength = Path_IsSeparator(w->path[n - 1]) ? n : n + 1;
        listed = Folder(w, n, 0);
    }
    *stopped = w->stopped;
    delete w;
    return listed;
}
