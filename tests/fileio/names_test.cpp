// Paths in any script: the file layer takes UTF-8 on every platform (on
// Windows through the W entry points where the A ones do not carry UTF-8,
// as in these test programs, which declare no code page).
#include <gtest/gtest.h>

#include "fileio.h"
#include "testfiles.h"

namespace {

TEST(FileNames, EveryScriptCreatesReopensAndReadsBack)
{
    TempDir dir;
    const uint32_t modes[] = {FileModeReadShared, FileModeReadExclusive, FileModeReadWriteExisting,
                              FileModeReadWrite};
    for (const std::string& name : NamesInThreeScripts()) {
        SCOPED_TRACE(name);
        const std::string path = dir.file(name);
        FileHandle h = FileHandleNone;
        ASSERT_EQ(1, File_Open(path.c_str(), FileModeCreateAlways | FileModeWrite, &h, 128));
        ASSERT_EQ(1, File_WriteExact(h, name.data(), uint32_t(name.size())));
        ASSERT_EQ(1, File_Close(h));
        // Read back by another reader under the same name: the name on disk
        // is the one asked for, not its bytes in some code page.
        EXPECT_EQ(Bytes(name.begin(), name.end()), ReadFileBytes(path));
        for (uint32_t mode : modes) {
            SCOPED_TRACE(mode);
            ASSERT_EQ(1, File_Open(path.c_str(), mode, &h, 128));
            int64_t size = 0;
            EXPECT_EQ(1, File_GetSize64(h, &size));
            EXPECT_EQ(int64_t(name.size()), size);
            EXPECT_EQ(1, File_Close(h));
        }
    }
}

TEST(FileNames, ANameThatIsNoUtf8OpensNothing)
{
    TempDir dir;
    FileHandle h = FileHandleNone;
    // On POSIX the bytes are a valid name; only Windows needs them as text.
    const std::string path = dir.file("take\xff.wav");
    int created = File_Open(path.c_str(), FileModeCreateAlways | FileModeWrite, &h, 128);
    if (created)
        File_Close(h);
    EXPECT_EQ(PathSep() == "/" ? 1 : 0, created);
    EXPECT_EQ(PathSep() == "/" ? 1 : 0, File_Open(path.c_str(), FileModeReadShared, &h, 128));
    if (h != FileHandleNone)
        File_Close(h);
}

}  // namespace
