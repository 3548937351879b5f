#include "platform/MountTable.h"

#include <gtest/gtest.h>

namespace tarn {
namespace {

// Lines as a desktop's /proc/self/mountinfo shows them: optional fields of any number before
// the "-", escapes in mount points and sources.
const char* const Sample =
    "22 1 259:2 / / rw,relatime shared:1 - ext4 /dev/nvme0n1p2 rw,errors=remount-ro\n"
    "40 22 259:3 / /home rw,relatime shared:30 - ext4 /dev/nvme0n1p3 rw\n"
    "41 22 0:45 / /mnt/a rw,relatime shared:31 master:2 - cifs //srv1/share rw,vers=3.1.1\n"
    "42 22 0:46 / /mnt/ab rw,relatime - nfs4 srv2:/export rw,vers=4.2\n"
    "43 40 0:47 / /home/ann/My\\040Files rw,nosuid,nodev,relatime shared:40 - fuse.sshfs "
    "ann@box:/srv/tab\\011and\\012line\\134end rw,user_id=1000\n"
    "44 41 0:48 / /mnt/a/inner rw,relatime - tmpfs tmpfs rw\n"
    "45 22 0:50 / /media/disk rw - ext4 /dev/sdb1 rw\n"
    "46 45 0:51 / /media/disk rw - nfs nas:/vol rw\n";

TEST(MountTableTest, ParsesEachLineWithItsOptionalFieldsAndEscapes)
{
    const MountTable table = MountTable::Parse(Sample);
    const std::vector<MountEntry>& entries = table.Entries();
    ASSERT_EQ(entries.size(), 8u);
    EXPECT_EQ(entries[0].MountPoint, "/");
    EXPECT_EQ(entries[0].FileSystemType, "ext4");
    EXPECT_EQ(entries[0].MountSource, "/dev/nvme0n1p2");
    EXPECT_EQ(entries[2].FileSystemType, "cifs");  // after two optional fields
    EXPECT_EQ(entries[2].MountSource, "//srv1/share");
    EXPECT_EQ(entries[3].MountSource, "srv2:/export");  // after none
    EXPECT_EQ(entries[4].MountPoint, "/home/ann/My Files");
    EXPECT_EQ(entries[4].FileSystemType, "fuse.sshfs");
    EXPECT_EQ(entries[4].MountSource, "ann@box:/srv/tab\tand\nline\\end");
}

TEST(MountTableTest, SkipsDamagedLinesAndKeepsWhatIsNoEscape)
{
    const MountTable table = MountTable::Parse(
        "\n"
        "garbage\n"
        "24 22 0:5 / /dev rw - devtmpfs\n"                // no source after the type
        "25 22 0:6 / /run rw shared:5 tmpfs tmpfs rw\n"   // no separator
        "26 22 0:7 / relative rw - tmpfs tmpfs rw\n"      // not an absolute mount point
        "27 22 0:8 / /x\\09y\\7 rw - tmpfs a\\400b rw\n"  // not escapes: kept as written
        "28  22 0:9 / /last rw - tmpfs tmpfs rw");        // doubled blank, no final newline
    ASSERT_EQ(table.Entries().size(), 2u);
    EXPECT_EQ(table.Entries()[0].MountPoint, "/x\\09y\\7");
    EXPECT_EQ(table.Entries()[0].MountSource, "a\\400b");
    EXPECT_EQ(table.Entries()[1].MountPoint, "/last");
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
        {"/mnt/a/file", "/mnt/a"},
        {"/mnt/ab/file", "/mnt/ab"},
        {"/mnt/abc", "/"},
        {"/mnt/a/inner/x", "/mnt/a/inner"},
        {"/mnt/a/innerx", "/mnt/a"},
        {"/home/ann/My Files/doc.txt", "/home/ann/My Files"},
        {"/home/ann/My", "/home"},
        {"home/ann", nullptr},  // relative: not resolved
        {"", nullptr},
    };
    for (const auto& [path, mountPoint] : cases) {
        const MountEntry* entry = table.Find(path);
        if (!mountPoint) {
            EXPECT_EQ(entry, nullptr) << path;
            continue;
        }
        ASSERT_NE(entry, nullptr) << path;
        EXPECT_EQ(entry->MountPoint, mountPoint) << path;
    }
    EXPECT_EQ(table.Find("/media/disk/x")->MountSource, "nas:/vol");  // the later mount is on top
    EXPECT_EQ(MountTable().Find("/home"), nullptr);
}

TEST(MountTableTest, TheProcessMountsHoldItsFiles)
{
    const MountTable current = MountTable::Current();
    EXPECT_NE(current.Find("/etc/hostname"), nullptr);
}

}  // namespace
}  // namespace tarn
