// A TCP relay that adds a fixed delay to every byte in each direction, so that a file server
// in a network namespace answers as if it were far away (the kernel here has no netem).
// Each chunk read is stamped with the time it may leave; a separate writer sends the chunks in
// order once their time has come, so the delay adds latency without cutting the throughput.
//
// Usage: delay_relay TARGET_ADDRESS TARGET_PORT DELAY_MS PORT_FILE
// Listens on 127.0.0.1 on a free port, writes the port number to PORT_FILE, and relays every
// connection to TARGET_ADDRESS:TARGET_PORT until it is killed.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

// Bytes a direction may hold while its reader is ahead of a slow receiver.
constexpr size_t MaxQueued = 4 * 1024 * 1024;
constexpr size_t ChunkSize = 64 * 1024;
// A server that is down or cut off must not keep the client waiting for minutes.
constexpr int ConnectTimeoutMs = 5000;

struct Chunk {
    Clock::time_point due;
    std::string bytes;  // empty: the sending side has closed
};

// One direction of a connection: `from` is read into a timed queue that is written to `to`.
class Pipe {
public:
    Pipe(int from, int to, std::chrono::milliseconds delay) : from_(from), to_(to), delay_(delay) {}

    void Run()
    {
        std::thread writer([this] { Write(); });
        Read();
        writer.join();
    }

private:
    void Read()
    {
        std::string buffer(ChunkSize, '\0');
        for (;;) {
            const ssize_t got = read(from_, buffer.data(), buffer.size());
            if (got < 0 && errno == EINTR) continue;
            std::unique_lock lock(mutex_);
            if (got <= 0) {
                queue_.push_back({Clock::now() + delay_, {}});
                changed_.notify_all();
                return;
            }
            changed_.wait(lock, [&] { return queued_ < MaxQueued || closed_; });
            if (closed_) return;
            queue_.push_back({Clock::now() + delay_, buffer.substr(0, static_cast<size_t>(got))});
            queued_ += static_cast<size_t>(got);
            changed_.notify_all();
        }
    }

    void Write()
    {
        for (;;) {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [&] { return !queue_.empty(); });
            const Clock::time_point due = queue_.front().due;
            if (Clock::now() < due) {
                // Only this thread takes from the queue, so its front is still the same chunk.
                changed_.wait_until(lock, due, [] { return false; });
                continue;
            }
            Chunk chunk = std::move(queue_.front());
            queue_.pop_front();
            queued_ -= chunk.bytes.size();
            changed_.notify_all();
            lock.unlock();
            if (chunk.bytes.empty() || !WriteAll(chunk.bytes)) {
                // Either end gone ends the whole connection: both readers see it at once.
                shutdown(from_, SHUT_RDWR);
                shutdown(to_, SHUT_RDWR);
                lock.lock();
                closed_ = true;
                changed_.notify_all();
                return;
            }
        }
    }

    bool WriteAll(const std::string& bytes)
    {
        for (size_t done = 0; done < bytes.size();) {
            const ssize_t put = send(to_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0) return false;
            done += static_cast<size_t>(put);
        }
        return true;
    }

    const int from_;
    const int to_;
    const std::chrono::milliseconds delay_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Chunk> queue_;
    size_t queued_ = 0;
    bool closed_ = false;
};

int ConnectWithTimeout(const sockaddr_in& target)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (connect(fd, reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0) {
        pollfd waiting{fd, POLLOUT, 0};
        int error = errno;
        if (error == EINPROGRESS && poll(&waiting, 1, ConnectTimeoutMs) == 1) {
            socklen_t length = sizeof error;
            getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
        } else if (error == EINPROGRESS) {
            error = ETIMEDOUT;
        }
        if (error != 0) {
            std::fprintf(stderr, "delay_relay: cannot reach the server: %s\n", std::strerror(error));
            close(fd);
            return -1;
        }
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

void Serve(int client, sockaddr_in target, std::chrono::milliseconds delay)
{
    const int server = ConnectWithTimeout(target);
    if (server < 0) {
        close(client);
        return;
    }
    const int on = 1;
    setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    auto up = std::make_unique<Pipe>(client, server, delay);
    auto down = std::make_unique<Pipe>(server, client, delay);
    std::thread upstream([&] { up->Run(); });
    down->Run();
    upstream.join();
    close(client);
    close(server);
}

}  // namespace

int main(int argc, char* argv[])
{
    if (argc != 5) {
        std::fprintf(stderr, "usage: delay_relay TARGET_ADDRESS TARGET_PORT DELAY_MS PORT_FILE\n");
        return 1;
    }
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(static_cast<uint16_t>(std::atoi(argv[2])));
    if (inet_pton(AF_INET, argv[1], &target.sin_addr) != 1) {
        std::fprintf(stderr, "delay_relay: not an IPv4 address: %s\n", argv[1]);
        return 1;
    }
    const std::chrono::milliseconds delay(std::atoi(argv[3]));

    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof local;
    if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        listen(listener, 16) != 0 || getsockname(listener, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
        std::fprintf(stderr, "delay_relay: cannot listen: %s\n", std::strerror(errno));
        return 1;
    }
    // Written whole under a temporary name, so a reader never sees half a number.
    const std::string portFile = argv[4];
    if (FILE* file = std::fopen((portFile + ".tmp").c_str(), "w")) {
        std::fprintf(file, "%d\n", ntohs(local.sin_port));
        std::fclose(file);
        std::rename((portFile + ".tmp").c_str(), portFile.c_str());
    } else {
        std::fprintf(stderr, "delay_relay: cannot write %s: %s\n", portFile.c_str(), std::strerror(errno));
        return 1;
    }
    for (;;) {
        const int client = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            std::fprintf(stderr, "delay_relay: accept failed: %s\n", std::strerror(errno));
            return 1;
        }
        std::thread(Serve, client, target, delay).detach();
    }
}
