#include "tests/support/watch.h"

#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

int MillisecondsLeft(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Blocks until the child ends or the deadline passes, where the system can watch it.
void PollForEnd(pid_t pid, std::chrono::steady_clock::time_point deadline) {
#if defined(SYS_pidfd_open)
    const int pidFd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    if (pidFd < 0) {
        return;
    }
    pollfd ended{pidFd, POLLIN, 0};
    while (poll(&ended, 1, MillisecondsLeft(deadline)) < 0 && errno == EINTR) {
    }
    close(pidFd);
#else
    (void)pid;
    (void)deadline;
#endif
}

// What /proc/PID/syscall shows of a process: its system call's number, or -1 while it runs
// on the processor; nullopt where the file cannot be read.
std::optional<long> SystemCallOf(pid_t pid) {
    const std::string shown = ReadWholeFile("/proc/" + std::to_string(pid) + "/syscall");
    if (shown.empty()) {
        return std::nullopt;
    }
    std::istringstream fields(shown);
    long number = -1;
    if (!(fields >> number)) {
        return -1;  // "running": on the processor, in no system call
    }
    return number;
}

}  // namespace

bool HasExited(pid_t pid) {
    siginfo_t info{};
    // WNOWAIT leaves the child to be collected by WaitForProcess.
    return waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
           info.si_pid == pid;
}

std::optional<ProcessExit> WaitWithPatience(pid_t pid) {
    PollForEnd(pid, std::chrono::steady_clock::now() + kPatience);
    if (!HasExited(pid)) {
        kill(pid, SIGKILL);
        WaitForProcess(pid);
        return std::nullopt;
    }
    return WaitForProcess(pid);
}

bool CanSeeChildSystemCalls() {
    static const bool canSee = [] {
        const pid_t child = fork();
        if (child == 0) {
            pause();
            _exit(0);
        }
        if (child < 0) {
            return false;
        }
        std::optional<long> call = SystemCallOf(child);
        const auto deadline = std::chrono::steady_clock::now() + kPatience;
        while (call == -1 && std::chrono::steady_clock::now() < deadline) {
            sched_yield();
            call = SystemCallOf(child);
        }
        kill(child, SIGKILL);
        WaitForProcess(child);
        return call.value_or(-1) >= 0;
    }();
    return canSee;
}

// The syscall number, then its first argument, the descriptor.
bool WaitUntilReadingStdin(pid_t pid) {
    const std::string syscallFile = "/proc/" + std::to_string(pid) + "/syscall";
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (std::chrono::steady_clock::now() < deadline && !HasExited(pid)) {
        std::istringstream current(ReadWholeFile(syscallFile));
        long number = -1;
        std::string descriptor;
        if (current >> number >> descriptor && number == SYS_read && descriptor == "0x0") {
            return true;
        }
        sched_yield();
    }
    return false;
}

std::string ReadUntil(int fd, const std::function<bool(const std::string&)>& done) {
    std::string arrived;
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (!done(arrived)) {
        pollfd readable{fd, POLLIN, 0};
        const int ready = poll(&readable, 1, MillisecondsLeft(deadline));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        char chunk[512];
        const ssize_t count = ready > 0 ? read(fd, chunk, sizeof chunk) : 0;
        if (count <= 0) {
            break;  // too late, or the other side closed
        }
        arrived.append(chunk, static_cast<std::size_t>(count));
    }
    return arrived;
}

bool FromTerminalLines(const std::string& shown, std::string& text) {
    text.clear();
    for (std::size_t i = 0; i < shown.size(); ++i) {
        if (shown[i] == '\r' && i + 1 < shown.size() && shown[i + 1] == '\n') {
            continue;
        }
        if (shown[i] == '\n' && (i == 0 || shown[i - 1] != '\r')) {
            return false;
        }
        text += shown[i];
    }
    return true;
}

namespace {

// The number of read() for the process's own word size: 3 in a 32-bit x86 program.
long ReadCallOf(pid_t pid) {
    constexpr std::size_t kElfClassByte = 4;
    constexpr char kElf32 = 1;
    constexpr long kI386Read = 3;
    char header[kElfClassByte + 1] = {};
    std::ifstream("/proc/" + std::to_string(pid) + "/exe", std::ios::binary)
        .read(header, sizeof header);
    return header[kElfClassByte] == kElf32 ? kI386Read : SYS_read;
}

std::string LinkOf(const std::string& path) {
    char target[256] = {};
    const ssize_t length = readlink(path.c_str(), target, sizeof target - 1);
    return length > 0 ? std::string(target, static_cast<std::size_t>(length)) : "";
}

bool AnyThreadReads(pid_t pid, long readCall, const std::string& file) {
    const std::string process = "/proc/" + std::to_string(pid);
    for (const auto& task : std::filesystem::directory_iterator(process + "/task")) {
        std::istringstream current(ReadWholeFile(task.path().string() + "/syscall"));
        long number = -1;
        std::string descriptor;
        if (current >> number >> descriptor && number == readCall &&
            LinkOf(process + "/fd/" + std::to_string(std::stol(descriptor, nullptr, 16))) == file) {
            return true;
        }
    }
    return false;
}

}  // namespace

bool WaitUntilAnyThreadReads(pid_t pid, int fd) {
    const std::string file = LinkOf("/proc/self/fd/" + std::to_string(fd));
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (std::chrono::steady_clock::now() < deadline && !HasExited(pid)) {
        try {
            if (AnyThreadReads(pid, ReadCallOf(pid), file)) {
                return true;
            }
        } catch (const std::exception&) {
            // A thread or descriptor that went away while it was looked at.
        }
        sched_yield();
    }
    return false;
}
