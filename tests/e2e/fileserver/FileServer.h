#pragma once

#include <string>

namespace tarn::test {

// A real file server for one test, set up and taken down by the `testbed` script: an OpenSSH
// server in a network namespace of its own, a rate-limited veth link, a relay that delays every
// byte, and the server's folder mounted here with sshfs. Everything it started goes with it.
class FileServer {
public:
    // Why this machine cannot run a file server (no root, FUSE, namespaces, sshd or sshfs), or
    // nothing when it can.
    static std::string WhyUnavailable();

    // `tag` tells apart the servers of one test; `work` holds keys, logs, export/ and mnt/.
    FileServer(const std::string& tag, const std::string& work, int delayMs = 0);
    ~FileServer();
    FileServer(const FileServer&) = delete;
    FileServer& operator=(const FileServer&) = delete;

    const std::string& Name() const { return name_; }  // also the host part of the mount source
    std::string Export() const { return work_ + "/export/"; }  // the server's own folder
    std::string Mount() const { return work_ + "/mnt/"; }      // the same folder over the network

    void KillConnections();  // the connection processes die, the listener stays
    void StopServer();       // listener and connections
    void StartServer();
    void LinkDown();         // the namespace's end of the link
    void LinkUp();

private:
    void Run(const std::string& command, const std::string& argument = {});

    std::string name_;
    std::string work_;
};

}  // namespace tarn::test
