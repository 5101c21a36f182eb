// The file operations of a rebuild: a name never replaced, data found past
// holes, copies in the kernel or through a buffer.
#include <gtest/gtest.h>

#include "fileio.h"
#include "testfiles.h"

namespace {

TEST(NewFile, CreateNewRefusesAnExistingName)
{
    TempDir dir;
    const std::string path = dir.write("taken.wav", Bytes{1, 2, 3});
    FileHandle h;
    EXPECT_EQ(0, File_Open(path.c_str(), FileModeWriteNew, &h, 128));
    EXPECT_EQ(FileOpenFailExists, File_LastOpenFailure());
    EXPECT_EQ(Bytes({1, 2, 3}), ReadFileBytes(path));
    ASSERT_EQ(1, File_Open(dir.file("new.wav").c_str(), FileModeWriteNew, &h, 128));
    File_Close(h);
}

TEST(NewFile, RenameNeverReplaces)
{
    TempDir dir;
    const std::string from = dir.write("from.part", Bytes{1});
    const std::string to = dir.write("to.wav", Bytes{2});
    int exists = 0;
    EXPECT_EQ(0, File_RenameNoReplace(from.c_str(), to.c_str(), &exists));
    EXPECT_EQ(1, exists);
    EXPECT_EQ(Bytes{2}, ReadFileBytes(to));
    const std::string free = dir.file("free.wav");
    EXPECT_EQ(1, File_RenameNoReplace(from.c_str(), free.c_str(), &exists));
    EXPECT_EQ(0, File_Exists(from.c_str()));
    EXPECT_EQ(Bytes{1}, ReadFileBytes(free));
    EXPECT_EQ(1, File_Remove(free.c_str()));
    EXPECT_EQ(0, File_Exists(free.c_str()));
}

// Every byte copied, holes or not, whatever stretches the system reports.
TEST(NewFile, CopiesTheDataStretches)
{
    TempDir dir;
    const int64_t size = 8 << 20;
    const std::string src = dir.file("sparse.wav");
    ASSERT_TRUE(WriteSparse(src, PatternBytes(4096, 1), size));
    ASSERT_TRUE(WriteAt(src, 6 << 20, PatternBytes(8192, 2)));
    FileHandle in, out;
    ASSERT_EQ(1, File_Open(src.c_str(), FileModeReadShared, &in, 128));
    ASSERT_EQ(1, File_Open(dir.file("copy.wav").c_str(), FileModeWriteNew, &out, 128));
    ASSERT_EQ(1, File_AllowHoles(out));
    Bytes buffer(1000);
    int64_t pos = 0, copied = 0;
    while (pos < size) {
        int64_t start, end;
        ASSERT_EQ(1, File_NextData(in, pos, size, &start, &end));
        if (start >= size)
            break;
        ASSERT_LT(start, end);
        ASSERT_EQ(1, File_CopyRange(in, start, out, start, uint32_t(end - start), buffer.data(), uint32_t(buffer.size())));
        copied += end - start;
        pos = end;
    }
    EXPECT_GE(copied, 4096 + 8192);
    ASSERT_EQ(1, File_SeekTo(out, size));
    ASSERT_EQ(1, File_Truncate(out));
    File_Close(out);
    File_Close(in);
    EXPECT_EQ(ReadFileBytes(src), ReadFileBytes(dir.file("copy.wav")));
}

}  // namespace
