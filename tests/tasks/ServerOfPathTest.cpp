#include "tasks/ServerOfPath.h"

#include <filesystem>

#include "tests/support/TestSupport.h"

namespace tarn {
namespace {

// A mountinfo line for a mount point, type and source (no blanks in them).
std::string Line(const std::string& mountPoint, const std::string& type, const std::string& source)
{
    return "40 22 0:45 / " + mountPoint + " rw,relatime shared:7 - " + type + " " + source + " rw\n";
}

TEST(MountTableTest, ParsesWholeLinesWithTheirOptionalFieldsAndEscapes)
{
    const MountTable table = MountTable::Parse(
        "22 1 259:2 / / rw,relatime shared:1 - ext4 /dev/nvme0n1p2 rw,errors=remount-ro\n"
        "\ngarbage\n"
        "41 22 0:45 / /mnt/a rw,relatime shared:31 master:2 - cifs //srv1/share rw,vers=3.1.1\n"
        "42 22 0:46 / /mnt/ab rw,relatime - nfs4 srv2:/export rw,vers=4.2\n"
        "43 40 0:47 / /home/ann/My\\040Files rw shared:40 - fuse.sshfs ann@box:/srv/tab\\011and\\012line\\134end rw\n"
        "24 22 0:5 / /dev rw - devtmpfs\n"                // no source after the type
        "25 22 0:6 / /run rw shared:5 tmpfs tmpfs rw\n"   // no separator
        "26 22 0:7 / relative rw - tmpfs tmpfs rw\n"      // not an absolute mount point
        "27 22 0:8 / /x\\09y\\7 rw - tmpfs a\\400b rw\n"  // not escapes: kept as written
        "28  22 0:9 / /last rw - tmpfs tmpfs rw");        // doubled blank, no final newline
    std::vector<std::string> entries;
    for (const MountEntry& e : table.Entries()) entries.push_back(e.MountPoint + "|" + e.FileSystemType + "|" + e.MountSource);
    EXPECT_EQ(entries, (std::vector<std::string>{"/|ext4|/dev/nvme0n1p2", "/mnt/a|cifs|//srv1/share",
                                                  "/mnt/ab|nfs4|srv2:/export",
                                                  "/home/ann/My Files|fuse.sshfs|ann@box:/srv/tab\tand\nline\\end",
                                                  "/x\\09y\\7|tmpfs|a\\400b", "/last|tmpfs|tmpfs"}));
}

const MountTable Mounts = MountTable::Parse(
    Line("/", "ext4", "/dev/sda2") + Line("/home", "btrfs", "/dev/sda3") +
    Line("/net/cifs", "cifs", "//Srv1/share") + Line("/net/smb3", "smb3", "//srv2/media") +
    Line("/net/nfs", "nfs", "SRV1:/export/home") + Line("/net/nfs4", "nfs4", "files.example.org:/") +
    Line("/net/nfs6", "nfs4", "[fe80::1]:/export") + Line("/net/ssh", "fuse.sshfs", "ann@build-box:/var/www") +
    Line("/net/ssh-nouser", "fuse.sshfs", "build-box:") +
    Line("/net/ssh-at", "fuse.sshfs", "ann@corp.example@gateway:/src") +
    Line("/net/ssh6", "fuse.sshfs", "ann@[2001:db8::7]:/home/ann") + Line("/net/bad-nfs", "nfs", "no-colon") +
    Line("/net/bad-cifs", "cifs", "srv3/share") + Line("/net/no-host", "nfs", ":/export") +
    Line("/gvfs", "fuse.gvfsd-fuse", "gvfsd-fuse") + Line("/smb", "fuse.smbnetfs", "smbnetfs") +
    Line("/net/rclone", "fuse.rclone", "Photos:2024/raw") + Line("/net/rclone-adhoc", "fuse.rclone", ":s3:bucket") +
    Line("/mnt/a/inner", "tmpfs", "x") + Line("/mnt/a", "ext4", "x") + Line("/mnt/ab", "ext4", "x") +
    Line("/home/ann/My\\040Files", "ext4", "x") + Line("/media/disk", "ext4", "x") + Line("/media/disk", "nfs", "nas:/x"));

TEST(ServerOfPathTest, GivesTheServerOfAPathOrOfTheMountThatHoldsIt)
{
    const std::pair<const char*, const char*> cases[] = {
        // Short paths stand for themselves.
        {"", ""}, {"/", "/"}, {"ab", "ab"}, {"//", "//"},
        // Network paths name their server, letter case kept: the queue compares without it.
        {"//Srv1/share/x", "Srv1"}, {"//srv2", "srv2"}, {"///x", ""},
        // Mounted shares give the host of their source, the same key as "//host/...".
        {"/net/cifs/docs/a.txt", "Srv1"}, {"/net/smb3/film.mkv", "srv2"}, {"/net/nfs/ann/.profile", "SRV1"},
        {"/net/nfs4/pub", "files.example.org"}, {"/net/nfs6/x", "fe80::1"}, {"/net/ssh/index.html", "build-box"},
        {"/net/ssh-nouser/x", "build-box"}, {"/net/ssh-at/main.cpp", "gateway"}, {"/net/ssh6/notes", "2001:db8::7"},
        {"/net/rclone/a.jpg", "Photos"},
        // Mounts of many servers give the host that the first folders name, lower-cased.
        {"/gvfs/smb-share:server=FS1.example.org,share=photos,user=anna/2024/a.jpg", "fs1.example.org"},
        {"/gvfs/smb-share:domain=CORP,server=fs1.example.org,share=video", "fs1.example.org"},
        {"/gvfs/sftp:host=Build-Box,user=ann/x", "build-box"}, {"/gvfs/nfs:host=nas,prefix=%2Fexport/x", "nas"},
        {"/gvfs/dav:host=%5Bfe80%3A%3A1%5D,port=8080,ssl=false/x", "fe80::1"},
        {"/gvfs//afp-volume:host=Mac,volume=Data/x", "mac"}, {"/smb/FS1/photos/a.jpg", "fs1"},
        // A network source without a host falls back to the mount point.
        {"/net/bad-nfs/x", "/net/bad-nfs"}, {"/net/bad-cifs/x", "/net/bad-cifs"}, {"/net/no-host/x", "/net/no-host"},
        {"/net/rclone-adhoc/x", "/net/rclone-adhoc"},
        // So does a path in a mount of many servers that names none.
        {"/gvfs", "/gvfs"}, {"/gvfs/mtp:host=Phone/DCIM", "/gvfs"}, {"/gvfs/smb-share:share=x,servers=y/z", "/gvfs"},
        {"/gvfs/sftp:host=/x", "/gvfs"}, {"/gvfs/sftp", "/gvfs"}, {"/smb/", "/smb"},
        // Local mounts give their mount point: the longest that holds the path on folder boundaries,
        // the later of two on the same point. One key per disk.
        {"/home/ann/Video/a.mkv", "/home"}, {"/home/", "/home"}, {"/homework/x", "/"}, {"/mnt/a/file", "/mnt/a"},
        {"/mnt/ab/file", "/mnt/ab"}, {"/mnt/abc", "/"}, {"/mnt/a/inner/x", "/mnt/a/inner"}, {"/mnt/a/innerx", "/mnt/a"},
        {"/home/ann/My Files/doc.txt", "/home/ann/My Files"}, {"/home/ann/My", "/home"}, {"/media/disk/x", "nas"},
        {"docs/a.txt", "/"},  // relative paths are not resolved and lie under no mount
    };
    for (const auto& [path, key] : cases) EXPECT_EQ(ServerOfPath(path, Mounts), key) << path;
    EXPECT_EQ(ServerOfPath("/home/ann/a", MountTable()), "/");
    EXPECT_EQ(ServerOfPath("//srv/share", MountTable()), "srv");
    EXPECT_NE(MountTable::Current().Find("/etc/hostname"), nullptr);
    // Without a table the process mounts decide; the second round is served from the cache.
    const MountTable current = MountTable::Current();
    for (int round = 0; round < 2; ++round)
        for (const char* path : {"//Srv1/share", "/etc/hostname", "/proc/self/status", "/tmp/x", "ab"})
            EXPECT_EQ(ServerOfPath(path), ServerOfPath(path, current)) << path;
}

// smbnetfs shows each workgroup as a folder of links HOST -> ../HOST.
TEST(ServerOfPathTest, AnSmbnetfsWorkgroupLeadsToItsHosts)
{
    const test::TempFolder smb;
    test::MakeFolders(smb / "WORKGROUP/FS1/");
    std::filesystem::create_directory_symlink("../FS2", smb / "WORKGROUP/FS2");
    const MountTable mounts = MountTable::Parse(Line(smb.Path().substr(0, smb.Path().size() - 1), "fuse.smbnetfs", "x"));
    EXPECT_EQ(ServerOfPath(smb / "WORKGROUP/FS2/photos/a.jpg", mounts), "fs2");
    EXPECT_EQ(ServerOfPath(smb / "WORKGROUP/FS1/photos", mounts), "workgroup");  // a folder, not a link
    EXPECT_EQ(ServerOfPath(smb / "WORKGROUP", mounts), "workgroup");
}

}  // namespace
}  // namespace tarn
