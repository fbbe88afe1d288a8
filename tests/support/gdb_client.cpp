#include "support/gdb_client.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace tarvel::test {

namespace {
sockaddr_in loopback(u16 port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}
}  // namespace

ScriptedDebugger::ScriptedDebugger(u16 port) {
    const sockaddr_in address = loopback(port);
    for (int attempt = 0; attempt < 6000 && fd_ < 0; ++attempt) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        if (::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) break;
        hang_up();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    timeval limit{60, 0};
    if (fd_ >= 0) ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
}

void ScriptedDebugger::send_raw(const std::string& bytes) {
    if (fd_ >= 0) ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
}

std::string ScriptedDebugger::next_packet() {
    while (fd_ >= 0) {
        for (size_t i = 0; i < events_.size(); ++i) {
            if (events_[i].kind != debugger::PacketEvent::Kind::Packet) continue;
            std::string payload = events_[i].payload;
            events_.erase(events_.begin(), events_.begin() + static_cast<long>(i) + 1);
            return payload;
        }
        char buffer[1024];
        const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
        if (n <= 0) hang_up();
        else decoder_.feed(std::string_view(buffer, static_cast<size_t>(n)), events_);
    }
    return "<none>";
}

void ScriptedDebugger::hang_up() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

u16 free_loopback_port() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = loopback(0);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

std::string guest_hex(u32 value, bool big_endian) {
    u8 bytes[4];
    store32(bytes, value, big_endian);
    std::string out;
    debugger::append_hex(out, bytes);
    return out;
}

}  // namespace tarvel::test
