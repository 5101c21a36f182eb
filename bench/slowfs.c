/* slowfs: SOURCE, read-only, at MOUNTPOINT, every request answered a fixed
 * delay late, as a network share or a card reader answers them. It shows
 * what a check costs when each request costs a round trip rather than CPU.
 *
 *   slowfs [--delay-us=N] [--counts=FILE] SOURCE MOUNTPOINT [-f] [FUSE options]
 *
 * N defaults to 1000 (1 ms). FILE, when given, holds one 64-bit counter per
 * kind of request (the order of SlowOp), kept up to date while it runs, so
 * that a benchmark can read how many requests each tool made. The delay is a sleep on the thread that serves
 * the request and the server runs up to 64 of them, so requests in flight
 * overlap as they would on the wire, and the CPU it spends per request (a
 * system call or two on SOURCE) is small against the delay.
 *
 * What the kernel may keep between requests, and what this asks of it, so
 * that tools taking turns on the same files meet the same conditions:
 *  - names and attributes: kept 0 s (entry, negative and attribute timeouts),
 *    so every lookup, stat and fstat reaches the server, as on a share
 *    mounted without attribute caching; one tool's lookups never serve the
 *    next one's;
 *  - pages: a read goes through the page cache with the kernel's readahead,
 *    but the pages are dropped at every open (no keep_cache), as NFS's
 *    close-to-open consistency does, so no tool reads what the one before it
 *    left;
 *  - the listing: not cached (no cache_readdir) and names only (no
 *    readdirplus), so a tool's stat of an entry is a request of its own;
 *  - locks: no lock operations here, so flock and fcntl locks are the
 *    kernel's own, granted as on a local disk; leases are not granted.
 * Mounted ro: an open for writing fails with EROFS before it reaches us. */
#define FUSE_USE_VERSION 31
#define _GNU_SOURCE
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <fuse.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <time.h>
#include <unistd.h>

/* A lookup reaches the high-level API as a getattr: both count as one. */
enum SlowOp {
    OpGetattr, OpReadlink, OpAccess, OpOpen, OpRead, OpFlush, OpRelease,
    OpOpendir, OpReaddir, OpReleasedir, OpStatfs, OpCount
};

static struct {
    const char* source;
    const char* counts_path;
    unsigned delay_us;
    int fd;
    uint64_t* counts;
} slow = {NULL, NULL, 1000, -1, NULL};

static void slow_wait(enum SlowOp op)
{
    if (slow.counts != NULL)
        __atomic_fetch_add(&slow.counts[op], 1, __ATOMIC_RELAXED);
    struct timespec left = {slow.delay_us / 1000000, (long)(slow.delay_us % 1000000) * 1000};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

/* Paths come as "/name"; SOURCE is reached through its descriptor. */
static const char* slow_rel(const char* path)
{
    return path[1] != '\0' ? path + 1 : ".";
}

static void* slow_init(struct fuse_conn_info* conn, struct fuse_config* cfg)
{
    conn->want &= ~(unsigned)(FUSE_CAP_READDIRPLUS | FUSE_CAP_READDIRPLUS_AUTO | FUSE_CAP_AUTO_INVAL_DATA);
    cfg->entry_timeout = 0;
    cfg->negative_timeout = 0;
    cfg->attr_timeout = 0;
    cfg->kernel_cache = 0;
    cfg->auto_cache = 0;
    cfg->direct_io = 0;
    return NULL;
}

static int slow_getattr(const char* path, struct stat* st, struct fuse_file_info* fi)
{
    slow_wait(OpGetattr);
    int r = fi != NULL ? fstat((int)fi->fh, st) : fstatat(slow.fd, slow_rel(path), st, AT_SYMLINK_NOFOLLOW);
    return r == 0 ? 0 : -errno;
}

static int slow_readlink(const char* path, char* buf, size_t size)
{
    slow_wait(OpReadlink);
    ssize_t n = readlinkat(slow.fd, slow_rel(path), buf, size - 1);
    if (n < 0)
        return -errno;
    buf[n] = '\0';
    return 0;
}

static int slow_access(const char* path, int mask)
{
    slow_wait(OpAccess);
    return faccessat(slow.fd, slow_rel(path), mask, 0) == 0 ? 0 : -errno;
}

static int slow_open(const char* path, struct fuse_file_info* fi)
{
    slow_wait(OpOpen);
    if ((fi->flags & O_ACCMODE) != O_RDONLY)
        return -EROFS;
    int fd = openat(slow.fd, slow_rel(path), O_RDONLY | O_CLOEXEC | (fi->flags & O_NONBLOCK));
    if (fd < 0)
        return -errno;
    fi->fh = (uint64_t)fd;
    return 0;
}

static int slow_read(const char* path, char* buf, size_t size, off_t offset, struct fuse_file_info* fi)
{
    (void)path;
    slow_wait(OpRead);
    ssize_t n = pread((int)fi->fh, buf, size, offset);
    return n >= 0 ? (int)n : -errno;
}

static int slow_flush(const char* path, struct fuse_file_info* fi)
{
    (void)path;
    (void)fi;
    slow_wait(OpFlush);
    return 0;
}

static int slow_release(const char* path, struct fuse_file_info* fi)
{
    (void)path;
    slow_wait(OpRelease);
    close((int)fi->fh);
    return 0;
}

static int slow_opendir(const char* path, struct fuse_file_info* fi)
{
    slow_wait(OpOpendir);
    int fd = openat(slow.fd, slow_rel(path), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return -errno;
    DIR* dir = fdopendir(fd);
    if (dir == NULL) {
        int error = errno;
        close(fd);
        return -error;
    }
    fi->fh = (uint64_t)(uintptr_t)dir;
    return 0;
}

static int slow_readdir(const char* path, void* buf, fuse_fill_dir_t filler, off_t offset, struct fuse_file_info* fi,
                        enum fuse_readdir_flags flags)
{
    (void)path;
    (void)flags;
    slow_wait(OpReaddir);
    DIR* dir = (DIR*)(uintptr_t)fi->fh;
    /* A full buffer ends a request; the next one starts at the entry that
     * did not fit, by the offset handed out with the one before it. */
    if (offset == 0)
        rewinddir(dir);
    else
        seekdir(dir, offset);
    struct dirent* entry;
    while ((errno = 0, entry = readdir(dir)) != NULL) {
        struct stat st = {0};
        st.st_ino = entry->d_ino;
        st.st_mode = DTTOIF(entry->d_type);
        if (filler(buf, entry->d_name, &st, telldir(dir), 0) != 0)
            break;
    }
    return errno == 0 ? 0 : -errno;
}

static int slow_releasedir(const char* path, struct fuse_file_info* fi)
{
    (void)path;
    slow_wait(OpReleasedir);
    closedir((DIR*)(uintptr_t)fi->fh);
    return 0;
}

static int slow_statfs(const char* path, struct statvfs* st)
{
    (void)path;
    slow_wait(OpStatfs);
    return fstatvfs(slow.fd, st) == 0 ? 0 : -errno;
}

static const struct fuse_operations slow_ops = {
    .getattr = slow_getattr,
    .readlink = slow_readlink,
    .open = slow_open,
    .read = slow_read,
    .statfs = slow_statfs,
    .flush = slow_flush,
    .release = slow_release,
    .opendir = slow_opendir,
    .readdir = slow_readdir,
    .releasedir = slow_releasedir,
    .init = slow_init,
    .access = slow_access,
};

enum { KeyDelay, KeyCounts };

static const struct fuse_opt slow_opts[] = {
    FUSE_OPT_KEY("--delay-us=", KeyDelay),
    FUSE_OPT_KEY("--counts=", KeyCounts),
    FUSE_OPT_END,
};

static int slow_arg(void* data, const char* arg, int key, struct fuse_args* args)
{
    (void)data;
    (void)args;
    if (key == KeyDelay) {
        char* end;
        unsigned long us = strtoul(arg + sizeof("--delay-us=") - 1, &end, 10);
        if (*end != '\0' || us > 10000000) {
            fprintf(stderr, "slowfs: bad delay %s\n", arg);
            return -1;
        }
        slow.delay_us = (unsigned)us;
        return 0;
    }
    if (key == KeyCounts) {
        slow.counts_path = arg + sizeof("--counts=") - 1;
        return 0;
    }
    if (key == FUSE_OPT_KEY_NONOPT && slow.source == NULL) {
        slow.source = arg;
        return 0;
    }
    return 1;
}

int main(int argc, char** argv)
{
    struct fuse_args args = FUSE_ARGS_INIT(argc, argv);
    if (fuse_opt_parse(&args, NULL, slow_opts, slow_arg) != 0)
        return 2;
    if (slow.source == NULL) {
        fprintf(stderr, "usage: slowfs [--delay-us=N] [--counts=FILE] SOURCE MOUNTPOINT [-f] [FUSE options]\n");
        return 2;
    }
    slow.fd = open(slow.source, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (slow.fd < 0) {
        perror(slow.source);
        return 2;
    }
    if (slow.counts_path != NULL) {
        size_t bytes = OpCount * sizeof(uint64_t);
        int fd = open(slow.counts_path, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0 || ftruncate(fd, (off_t)bytes) != 0 ||
            (slow.counts = mmap(NULL, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0)) == MAP_FAILED) {
            perror(slow.counts_path);
            return 2;
        }
        close(fd);
    }
    /* Idle threads are kept: a thread made per burst would cost CPU. */
    if (fuse_opt_add_arg(&args, "-oro,fsname=slowfs,subtype=slowfs,max_threads=64,max_idle_threads=64") != 0)
        return 2;
    int status = fuse_main(args.argc, args.argv, &slow_ops, NULL);
    fuse_opt_free_args(&args);
    return status;
}
