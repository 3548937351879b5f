#pragma once

#include <string>

#include "platform/MountTable.h"

namespace tarn {

// The key by which "Queue by File Servers" groups tasks: the file server that holds `path`.
// - Fewer than 3 characters: the path itself.
// - "//server/...": the server, up to the next '/' or the end ("//srv" gives "srv").
// - Otherwise the mount that holds the path decides. A network mount gives the host of its
//   source: "//srv/share" (cifs, smb3), "srv:/export" (nfs, nfs4), "user@srv:path"
//   (fuse.sshfs) all give "srv", and "[fe80::1]:/x" gives "fe80::1"; so a task on a mounted
//   share and one that names the share as "//srv/..." share a key. "remote:path" (fuse.rclone)
//   gives the remote's name.
// - The mounts that hold many servers give the host that the path's first folders below the
//   mount point name, lower-cased so that every spelling of one host gives one key:
//   GVFS (fuse.gvfsd-fuse) a share folder's "server=" or "host=" value, percent-escapes decoded
//   ("smb-share:server=Srv,share=photos,user=ann" gives "srv"; also sftp, ftp, ftps, ftpis, dav,
//   davs, afp-volume, afp-server, nfs and smb-server folders), and smbnetfs (fuse.smbnetfs) the
//   first folder ("Srv/share/..."), or the second when smbnetfs shows it as a link in a
//   workgroup's folder ("WORKGROUP/Srv/share/...").
// - A network source that names no host, a path in such a mount outside any server's folder,
//   and every other mount give the mount point ("/", "/home").
// - A path under no mount, including every relative path (paths are taken as written, nothing
//   is resolved), gives "/": such paths land on the root file system in practice.
// Other keys keep their letter case; callers compare keys without regard to it.
std::string ServerOfPath(const std::string& path, const MountTable& mounts);

// The same with this process's mounts, read again at most once a second, since the scheduler
// asks for every task on every tick.
std::string ServerOfPath(const std::string& path);

}  // namespace tarn
