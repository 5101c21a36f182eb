// What the folder listing says each kind of entry is: most file systems
// tell it with the entry, and only links (and entries of unknown type) are
// measured, following the link to what it leads to.
#include <gtest/gtest.h>

#include <string.h>

#include <map>
#include <string>

#include "scanplatform.h"
#include "testfiles.h"

#ifndef _WIN32
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

struct Kind {
    int32_t type;
    int32_t isLink;
    bool operator==(const Kind& o) const { return type == o.type && isLink == o.isLink; }
};

std::ostream& operator<<(std::ostream& out, const Kind& k)
{
    return out << "type " << k.type << (k.isLink ? ", a link" : "");
}

bool MakeSocket(const std::string& path)
{
    sockaddr_un address{};
    if (path.size() >= sizeof(address.sun_path))
        return false;
    address.sun_family = AF_UNIX;
    memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    const bool bound = fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    if (fd >= 0)
        close(fd);
    return bound;
}

TEST(DirListing, EveryKindOfEntry)
{
    TempDir dir;
    ASSERT_TRUE(WriteFileBytes(dir.file("take.wav"), Bytes{1, 2, 3}));
    ASSERT_TRUE(MakeDir(dir.file("day1")));
    ASSERT_EQ(0, mkfifo(dir.file("fifo.wav").c_str(), 0644));
    ASSERT_EQ(0, symlink(dir.file("take.wav").c_str(), dir.file("tofile.wav").c_str()));
    ASSERT_EQ(0, symlink(dir.file("day1").c_str(), dir.file("todir").c_str()));
    ASSERT_EQ(0, symlink(dir.file("nowhere.wav").c_str(), dir.file("dangling.wav").c_str()));
    ASSERT_EQ(0, symlink(dir.file("fifo.wav").c_str(), dir.file("tofifo.wav").c_str()));
    ASSERT_EQ(0, symlink("/dev/null", dir.file("todevice.wav").c_str()));
    std::map<std::string, Kind> expected = {
        {".", {DirEntryDirectory, 0}},          {"..", {DirEntryDirectory, 0}},
        {"take.wav", {DirEntryFile, 0}},        {"day1", {DirEntryDirectory, 0}},
        {"fifo.wav", {DirEntryOther, 0}},       {"tofile.wav", {DirEntryFile, 1}},
        {"todir", {DirEntryDirectory, 1}},      {"dangling.wav", {DirEntryNowhere, 1}},
        {"tofifo.wav", {DirEntryOther, 1}},     {"todevice.wav", {DirEntryOther, 1}},
    };
    // A socket's path must be short; a system temporary folder may be too deep.
    if (MakeSocket(dir.file("sock.wav")))
        expected["sock.wav"] = {DirEntryOther, 0};

    std::map<std::string, Kind> listed;
    DirListing listing;
    ASSERT_EQ(1, DirListing_Open(&listing, dir.path().c_str()));
    while (DirListing_Next(&listing))
        listed[listing.name] = {listing.entryType, listing.entryIsLink};
    DirListing_Close(&listing);
    for (const auto& e : expected) {
        SCOPED_TRACE(e.first);
        ASSERT_EQ(1u, listed.count(e.first));
        EXPECT_EQ(e.second, listed[e.first]);
    }
    EXPECT_EQ(expected.size(), listed.size());
}

}  // namespace
#endif
