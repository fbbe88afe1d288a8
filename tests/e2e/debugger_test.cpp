// The GDB stub end to end: tarvel-run with TARVEL_GDB_PORT waits for the
// debugger, gdb-multiarch (in batch mode, with the application's ELF) breaks
// in a screen callback, reads a local variable and registers, steps, and
// continues until the application ends. Nothing here depends on timing: the
// frames stand still while the debugger holds the machine, and every wait is
// bounded only by gdb's generous connect timeout and the test's own limit.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <fmt/format.h>

#include "e2e/subprocess.hpp"
#include "support/temp_dir.hpp"

namespace tarvel::e2e {
namespace {

// A loopback port nobody listens on right now.
int free_port() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

// Connects and hangs up at once: a stub still waiting for a debugger (because
// gdb never came) lets the run go on and end.
void knock(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    ::close(fd);
}

struct DebugBuild {
    const char* name;
    const char* cbe;
    const char* elf;
    bool thumb;
};

TEST(GdbStub, BreakReadStepAndContinueToTheEnd) {
#ifndef TARVEL_GDB_EXE
    GTEST_SKIP() << "gdb-multiarch is not installed (apt-get install gdb-multiarch)";
#else
    std::vector<DebugBuild> builds;
#ifdef E2E_DEBUG_THUMB_LE_CBE
    builds.push_back({"Thumb, little-endian", E2E_DEBUG_THUMB_LE_CBE, E2E_DEBUG_THUMB_LE_ELF, true});
#endif
#ifdef E2E_DEBUG_ARM_BE_CBE
    builds.push_back({"ARM, big-endian", E2E_DEBUG_ARM_BE_CBE, E2E_DEBUG_ARM_BE_ELF, false});
#endif
    if (builds.empty()) GTEST_SKIP() << "no ARM cross compiler built the debugger's application";
    if (!std::filesystem::exists(TARVEL_GDB_EXE)) GTEST_SKIP() << TARVEL_GDB_EXE << " is gone";

    for (const DebugBuild& build : builds) {
        SCOPED_TRACE(build.name);
        test::TempDir dir;
        const int port = free_port();
        const std::string script = dir.path() + "/session.gdb";
        std::ofstream(script) << fmt::format(
            "set pagination off\n"
            "set confirm off\n"
            "set tcp connect-timeout 600\n"
            "target remote 127.0.0.1:{}\n"
            "break stripes_logic\n"
            "continue\n"
            "next\n"
            "print key\n"
            "print event\n"
            "info registers pc\n"
            "printf \"thumb state %d\\n\", ($cpsr >> 5) & 1\n"
            "set $before = $pc\n"
            "stepi\n"
            "printf \"stepped %d\\n\", $pc != $before\n"
            "delete\n"
            "continue\n",
            port);

        // The left soft key at frame 60 ends the application; frames stand
        // still while the debugger holds the machine, so it comes after the
        // breakpoint whatever the speed of this machine.
        ProcessResult run;
        std::thread runner([&] {
            run = run_process({TARVEL_RUN_EXE, "-c", TARVEL_CORE_LIBRARY, "-n", "120", "--press", "60:l", build.cbe},
                              dir.path() + "/run.txt", {{"TARVEL_GDB_PORT", std::to_string(port)}});
        });
        const ProcessResult gdb =
            run_process({TARVEL_GDB_EXE, "-nx", "-batch", "-x", script, build.elf}, dir.path() + "/gdb.txt");
        knock(port);
        runner.join();

        const std::string& out = gdb.output;
        SCOPED_TRACE("gdb:\n" + out + "\ntarvel-run:\n" + run.output);
        EXPECT_EQ(gdb.exit_code, 0);
        EXPECT_EQ(run.exit_code, 0);
        EXPECT_NE(out.find("Breakpoint 1, stripes_logic ("), std::string::npos);
        EXPECT_NE(out.find("event=6"), std::string::npos) << "the first call is the tick event";
        EXPECT_NE(out.find("$1 = -1"), std::string::npos) << "key: no key event at the first tick";
        EXPECT_NE(out.find("$2 = 6"), std::string::npos);
        EXPECT_NE(out.find("<stripes_logic+"), std::string::npos);
        EXPECT_NE(out.find(fmt::format("thumb state {}", build.thumb ? 1 : 0)), std::string::npos);
        EXPECT_NE(out.find("stepped 1"), std::string::npos);
        EXPECT_NE(out.find("[Inferior 1 (Remote target) exited normally]"), std::string::npos);
        EXPECT_NE(run.output.find("GDB stub: debugger attached"), std::string::npos);
    }
#endif
}

}  // namespace
}  // namespace tarvel::e2e
