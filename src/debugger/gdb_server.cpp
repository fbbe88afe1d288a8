#include "debugger/gdb_server.hpp"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "common/log.hpp"

namespace tarvel::debugger {

namespace {

constexpr const char* kTarget = "tarvel_core::debugger";
// Instructions between looks at the socket while the machine runs attached:
// often enough for an interrupt to feel immediate, rare enough to cost nothing.
constexpr u32 kPollInterval = 1u << 16;
// Events read ahead while the machine runs; past this the socket is left unread.
constexpr size_t kMaxPendingEvents = 64;
// A debugger that takes no bytes for this long is dropped.
constexpr int kSendTimeoutMs = 30'000;

std::string errno_text() { return std::strerror(errno); }

}  // namespace

Result<std::unique_ptr<GdbServer>> GdbServer::listen(u16 port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return Error::format("cannot create a socket: {}", errno_text());
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) < 0 || ::listen(fd, 1) < 0) {
        Error error = Error::format("cannot listen on 127.0.0.1:{}: {}", port, errno_text());
        ::close(fd);
        return error;
    }
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    TARVEL_LOG(Info, kTarget, "GDB stub listening on 127.0.0.1:{}", ntohs(address.sin_port));
    return std::unique_ptr<GdbServer>(new GdbServer(fd, ntohs(address.sin_port)));
}

GdbServer::~GdbServer() {
    close_client();
    if (listener_ >= 0) ::close(listener_);
}

void GdbServer::wait_for_debugger() { waiting_ = true; }

bool GdbServer::accept_client(bool blocking) {
    if (blocking) {
        TARVEL_LOG(Info, kTarget, "GDB stub waiting for a debugger on 127.0.0.1:{}", port_);
        pollfd p{listener_, POLLIN, 0};
        while (::poll(&p, 1, -1) < 0 && errno == EINTR) {
        }
    }
    const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return false;
    if (client_ >= 0) {
        // One debugger at a time; a second one is turned away at once.
        TARVEL_LOG(Warn, kTarget, "GDB stub: a debugger is already attached; refused another");
        ::close(fd);
        return false;
    }
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    client_ = fd;
    closing_ = false;
    decoder_ = PacketDecoder();
    session_ = GdbSession();
    pending_.clear();
    last_packet_.clear();
    running_ = false;
    halt_requested_ = false;
    step_pending_ = false;
    TARVEL_LOG(Info, kTarget, "GDB stub: debugger attached");
    return true;
}

void GdbServer::close_client() {
    if (client_ < 0) return;
    ::close(client_);
    client_ = -1;
    closing_ = false;
    running_ = false;
    pending_.clear();
    TARVEL_LOG(Info, kTarget, "GDB stub: debugger detached");
}

bool GdbServer::receive(bool blocking) {
    if (client_ < 0) return false;
    if (!blocking && pending_.size() >= kMaxPendingEvents) return true;
    if (blocking) {
        pollfd p{client_, POLLIN, 0};
        while (::poll(&p, 1, -1) < 0 && errno == EINTR) {
        }
    }
    u8 buffer[4096];
    const ssize_t n = ::recv(client_, buffer, sizeof buffer, 0);
    if (n == 0) return false;
    if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    decoded_.clear();
    decoder_.feed(std::span<const u8>(buffer, static_cast<size_t>(n)), decoded_);
    for (PacketEvent& event : decoded_) pending_.push_back(std::move(event));
    return true;
}

bool GdbServer::take_interrupt() {
    bool found = false;
    std::erase_if(pending_, [&found](const PacketEvent& e) {
        if (e.kind != PacketEvent::Kind::Interrupt) return false;
        found = true;
        return true;
    });
    return found;
}

void GdbServer::send_raw(const std::string& bytes) {
    size_t sent = 0;
    while (client_ >= 0 && sent < bytes.size()) {
        const ssize_t n = ::send(client_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd p{client_, POLLOUT, 0};
            if (::poll(&p, 1, kSendTimeoutMs) > 0) continue;
        }
        TARVEL_LOG(Warn, kTarget, "GDB stub: cannot send to the debugger; dropping it");
        close_client();
    }
}

void GdbServer::send_packet(std::string_view payload) {
    last_packet_ = encode_packet(payload);
    send_raw(last_packet_);
}

Resume GdbServer::halt(machine::TarvelMachine& m, u8 signal) {
    session_.set_stop_signal(signal);
    if (running_) send_packet(session_.stop_reply(m));
    running_ = false;
    halt_requested_ = false;
    step_pending_ = false;
    using Kind = PacketEvent::Kind;
    for (;;) {
        while (pending_.empty()) {
            if (!receive(true)) {
                close_client();
                return Resume::Detach;
            }
        }
        PacketEvent event = std::move(pending_.front());
        pending_.pop_front();
        switch (event.kind) {
            case Kind::Ack:
            case Kind::Interrupt: continue;  // already halted
            case Kind::Nak:
                if (!session_.no_ack() && !last_packet_.empty()) send_raw(last_packet_);
                continue;
            case Kind::BadChecksum:
                TARVEL_LOG(Debug, kTarget, "GDB stub: packet with a bad checksum");
                if (!session_.no_ack()) send_raw("-");
                continue;
            case Kind::Oversized:
                TARVEL_LOG(Warn, kTarget, "GDB stub: packet longer than {} bytes refused", kMaxPacketBytes);
                if (!session_.no_ack()) send_raw("+");
                send_packet("E03");
                continue;
            case Kind::Packet: break;
        }
        if (!session_.no_ack()) send_raw("+");
        CommandOutcome outcome = session_.handle(m, event.payload);
        if (outcome.reply) send_packet(*outcome.reply);
        switch (outcome.resume) {
            case Resume::None: continue;
            case Resume::Continue:
            case Resume::Step: {
                // Halted before an instruction, that instruction runs as soon
                // as this returns, without being checked again: a breakpoint
                // there is passed, and a step halts before the one after it.
                running_ = true;
                poll_countdown_ = kPollInterval;
                step_pending_ = outcome.resume == Resume::Step;
                return outcome.resume;
            }
            case Resume::Detach:
            case Resume::Kill:
                close_client();
                return outcome.resume;
        }
    }
}

bool GdbServer::before_instruction(machine::TarvelMachine& m) {
    if (waiting_) {
        waiting_ = false;
        if (!accept_client(true)) return true;
        return halt(m, kSignalTrap) != Resume::Kill;
    }
    if (client_ < 0 || closing_) return true;
    bool stop = halt_requested_ || step_pending_;
    if (session_.has_breakpoints() && session_.is_breakpoint(m.cpu.regs.r[15])) stop = true;
    if (!stop && --poll_countdown_ == 0) {
        poll_countdown_ = kPollInterval;
        if (!receive(false)) {
            close_client();
            return true;
        }
        stop = take_interrupt();
    }
    if (!stop) return true;
    return halt(m, kSignalTrap) != Resume::Kill;
}

bool GdbServer::poll(machine::TarvelMachine& m, AppState app) {
    const u8 signal = app == AppState::Faulted ? kSignalSegv : kSignalTrap;
    if (client_ < 0) {
        if (!accept_client(false)) return true;
        // The new debugger's first questions are answered right here.
        return halt(m, signal) != Resume::Kill;
    }
    accept_client(false);  // turns away a second debugger
    if (!receive(false)) {
        close_client();
        return true;
    }
    if (closing_) {
        pending_.clear();  // the session is over; only the hang-up matters
        return true;
    }
    if (!take_interrupt()) return true;
    if (app == AppState::Running) {
        halt_requested_ = true;  // before the next guest instruction
        return true;
    }
    return halt(m, signal) != Resume::Kill;
}

void GdbServer::after_frame(machine::TarvelMachine&, AppState app) {
    if (client_ < 0 || !running_ || app == AppState::Running) return;
    send_packet(app == AppState::Ended ? "W00" : "X0b");
    running_ = false;
    closing_ = true;
}

bool GdbServer::report_fault(machine::TarvelMachine& m, const Error& reason) {
    if (client_ < 0 || !running_) return true;
    send_packet("O" + hex_of("Tarvel: " + reason.to_string() + "\n"));
    return halt(m, kSignalSegv) != Resume::Kill;
}

}  // namespace tarvel::debugger
