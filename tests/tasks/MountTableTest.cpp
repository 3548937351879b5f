#include "platform/MountTable.h"

#include <gtest/gtest.h>

namespace tarn {
namespace {

// Lines as a desktop's /proc/self/mountinfo shows them: optional fields of any number before
// the "-", escapes in mount points and sources.
const char* const Sample =
    "22 1 259:2 / / rw,relatime shared:1 - ext4 /dev/nvme0n1p2 rw,errors=remount-ro\n"
    "23 22 0:21 / /proc rw,nosuid,nodev,noexec,relatime shared:12 - proc proc rw\n"
    "40 22 259:3 / /home rw,relatime shared:30 - ext4 /dev/nvme0n1p3 rw\n"
    "41 22 0:45 / /mnt/a rw,relatime shared:31 master:2 - cifs //srv1/share rw,vers=3.1.1\n"
    "42 22 0:46 / /mnt/ab rw,relatime - nfs4 srv2:/export rw,vers=4.2\n"
    "43 40 0:47 / /home/ann/My\\040Files rw,nosuid,nodev,relatime shared:40 - fuse.sshfs "
    "ann@box:/srv/tab\\011and\\012line\\134end rw,user_id=1000\n"
    "44 41 0:48 / /mnt/a/inner rw,relatime - tmpfs tmpfs rw\n";

TEST(MountTableTest, ParsesEachLineWithItsOptionalFieldsAndEscapes)
{
    const MountTable table = MountTable::Parse(Sample);
    const std::vector<MountEntry>& entries = table.Entries();
    ASSERT_EQ(entries.size(), 7u);
    EXPECT_EQ(entries[0].MountPoint, "/");
    EXPECT_EQ(entries[0].FileSystemType, "ext4");
    EXPECT_EQ(entries[0].MountSource, "/dev/nvme0n1p2");
    EXPECT_EQ(entries[3].FileSystemType, "cifs");  // two optional fields
    EXPECT_EQ(entries[3].MountSource, "//srv1/share");
    EXPECT_EQ(entries[4].MountSource, "srv2:/export");  // none
    EXPECT_EQ(entries[5].MountPoint, "/home/ann/My Files");
    EXPECT_EQ(entries[5].FileSystemType, "fuse.sshfs");
    EXPECT_EQ(entries[5].MountSource, "ann@box:/srv/tab\tand\nline\\end");
}

TEST(MountTableTest, SkipsDamagedLinesAndKeepsUnknownEscapes)
{
    const MountTable table = MountTable::Parse(
        "\n"
        "garbage\n"
        "24 22 0:5 / /dev rw - devtmpfs\n"                  // no source after the type
        "25 22 0:6 / /run rw shared:5 tmpfs tmpfs rw\n"     // no separator
        "26 22 0:7 / relative rw - tmpfs tmpfs rw\n"        // not an absolute mount point
        "27 22 0:8 / /x\\09y\\7 rw - tmpfs a\\400b rw\n"    // not escapes: kept as written
        "28  22 0:9 / /last rw - tmpfs tmpfs rw");          // no final newline, doubled blank
    ASSERT_EQ(table.Entries().size(), 2u);
    EXPECT_EQ(table.Entries()[0].MountPoint, "/x\\09y\\7");
    EXPECT_EQ(table.Entries()[0].MountSource, "a\\400b");
    EXPECT_EQ(table.Entries()[1].MountPoint, "/last");
    EXPECT_TRUE(MountTable::Parse("").Entries().empty());
}

TEST(MountTableTest, FindsTheLongestMountPointOnFolderBoundaries)
{
    const MountTable table = MountTable::Parse(Sample);
    const std::pair<const char*, const char*> cases[] = {
        {"/", "/"},
        {"/etc/passwd", "/"},
        {"/home", "/home"},
        {"/home/", "/home"},
        {"/homework/x", "/"},
        {"/mnt/a", "/mnt/a"},
        {"/mnt/a/file", "/mnt/a"},
        {"/mnt/ab/file", "/mnt/ab"},
        {"/mnt/abc", "/"},
        {"/mnt/a/inner/x", "/mnt/a/inner"},
        {"/mnt/a/innerx", "/mnt/a"},
        {"/home/ann/My Files/doc.txt", "/home/ann/My Files"},
        {"/home/ann/My", "/home"},
    };
    for (const auto& [path, mountPoint] : cases) {
        const MountEntry* entry = table.Find(path);
        ASSERT_NE(entry, nullptr) << path;
        EXPECT_EQ(entry->MountPoint, mountPoint) << path;
    }
}

TEST(MountTableTest, RelativePathsAndEmptyTablesFindNothing)
{
    const MountTable table = MountTable::Parse(Sample);
    EXPECT_EQ(table.Find("home/ann"), nullptr);
    EXPECT_EQ(table.Find(""), nullptr);
    EXPECT_EQ(MountTable().Find("/home"), nullptr);
}

TEST(MountTableTest, TheLastMountOfAPointIsTheOneOnTop)
{
    const MountTable table = MountTable::Parse(
        "30 22 0:50 / /media/disk rw - ext4 /dev/sdb1 rw\n"
        "31 30 0:51 / /media/disk rw - nfs nas:/vol rw\n");
    ASSERT_NE(table.Find("/media/disk/x"), nullptr);
    EXPECT_EQ(table.Find("/media/disk/x")->MountSource, "nas:/vol");
}

TEST(MountTableTest, TheCurrentTableHoldsTheRoot)
{
    const MountTable table = MountTable::Current();
    ASSERT_NE(table.Find("/"), nullptr);
    EXPECT_EQ(table.Find("/")->MountPoint, "/");
}

}  // namespace
}  // namespace tarn
