/* sndcheck: the check people write today with libsndfile, as the yardstick
 * for "tessmark --check". For every recording in FOLDER it opens the file,
 * takes the frame count libsndfile reports and compares the bytes those
 * frames fill with the bytes behind the data offset. Prints one line per
 * file that looks short and a summary; exit status 1 when any does. */
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sndfile.h>

static int soundName(const char* name)
{
    static const char* const extensions[] = {".wav", ".bwf", ".aif", ".aiff", ".iff"};
    const char* dot = strrchr(name, '.');
    if (dot == NULL)
        return 0;
    for (size_t i = 0; i < sizeof(extensions) / sizeof(extensions[0]); ++i)
        if (strcasecmp(dot, extensions[i]) == 0)
            return 1;
    return 0;
}

static int sampleBytes(int format)
{
    switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
    case SF_FORMAT_ULAW:
    case SF_FORMAT_ALAW:
        return 1;
    case SF_FORMAT_PCM_16:
        return 2;
    case SF_FORMAT_PCM_24:
        return 3;
    case SF_FORMAT_PCM_32:
    case SF_FORMAT_FLOAT:
        return 4;
    case SF_FORMAT_DOUBLE:
        return 8;
    default:
        return 0;
    }
}

int main(int argc, char** argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: sndcheck FOLDER\n");
        return 2;
    }
    DIR* dir = opendir(argv[1]);
    if (dir == NULL) {
        perror(argv[1]);
        return 2;
    }
    long examined = 0, ok = 0, shortOnes = 0, unreadable = 0;
    char path[4096];
    struct dirent* entry;
    while ((entry = readdir(dir)) != NULL) {
        if (entry->d_name[0] == '.' || !soundName(entry->d_name))
            continue;
        if ((size_t)snprintf(path, sizeof(path), "%s/%s", argv[1], entry->d_name) >= sizeof(path))
            continue;
        int fd = open(path, O_RDONLY);
        if (fd < 0) {
            ++unreadable;
            continue;
        }
        SF_INFO info;
        memset(&info, 0, sizeof(info));
        SNDFILE* sf = sf_open_fd(fd, SFM_READ, &info, SF_FALSE);
        if (sf == NULL) {
            ++unreadable;
            close(fd);
            continue;
        }
        /* libsndfile leaves the file at the first sample once it is open. */
        off_t dataOffset = lseek(fd, 0, SEEK_CUR);
        struct stat st;
        int bytes = sampleBytes(info.format);
        ++examined;
        if (fstat(fd, &st) == 0 && dataOffset > 0 && bytes > 0) {
            long long present = (long long)st.st_size - dataOffset;
            long long declared = (long long)info.frames * info.channels * bytes;
            /* libsndfile quietly takes the file's length for a WAV header
             * that declares no data; its log is where that shows. */
            char log[2048];
            sf_command(sf, SFC_GET_LOG_INFO, log, sizeof(log));
            if (present > declared || strstr(log, "wasn't closed properly") != NULL) {
                ++shortOnes;
                printf("%s short: %lld bytes behind the data offset, %lld declared\n", entry->d_name, present,
                       declared);
            } else {
                ++ok;
            }
        }
        sf_close(sf);
        close(fd);
    }
    closedir(dir);
    printf("%ld files examined: %ld OK, %ld short, %ld not readable\n", examined, ok, shortOnes, unreadable);
    return shortOnes > 0 ? 1 : 0;
}
