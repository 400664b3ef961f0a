#include "tests/support/process.h"

#include <fcntl.h>
#include <poll.h>
#if defined(__linux__)
#include <sys/prctl.h>
#endif
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace {

void ThrowSystemError(const char* what) {
    throw std::runtime_error(std::string(what) + " failed, errno " + std::to_string(errno));
}

// Puts the parent's descriptor at the child's standard descriptor, or closes that one.
void PlaceDescriptor(int from, int to) {
    if (from < 0) {
        close(to);
    } else if (from != to) {
        dup2(from, to);
    }
}

void ApplyEnvironment(const Command& command) {
    for (const auto& [name, value] : command.environment) {
        if (value) {
            setenv(name.c_str(), value->c_str(), 1);
        } else {
            unsetenv(name.c_str());
        }
    }
}

// Moves a descriptor above the standard three, so that placing one cannot clobber another.
// The copy closes on exec; dup2 gives the standard descriptor its own open-on-exec flag.
int AboveStandard(int fd) {
    if (fd < 0 || fd > STDERR_FILENO) {
        return fd;
    }
    return fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
}

void WriteIgnoringGoneReader(int fd, const std::string& data) {
    struct sigaction ignore {};
    struct sigaction previous {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &previous);
    const ssize_t written = write(fd, data.data(), data.size());
    const int writeErrno = errno;
    sigaction(SIGPIPE, &previous, nullptr);
    if (written < 0 && writeErrno != EPIPE) {
        errno = writeErrno;
        ThrowSystemError("write");
    }
}

void DrainInto(int fd, std::string& sink, bool& open) {
    char chunk[4096];
    const ssize_t count = read(fd, chunk, sizeof chunk);
    if (count > 0) {
        sink.append(chunk, static_cast<size_t>(count));
    } else if (count == 0 || errno != EINTR) {
        open = false;
    }
}

// In the child: where the system cannot forbid the counter, it ends with status 126, which a
// test takes as "cannot be shown here".
void ForbidTimeStampCounterOrExit() {
#if defined(__linux__) && defined(PR_SET_TSC)
    if (prctl(PR_SET_TSC, PR_TSC_SIGSEGV, 0, 0, 0) == 0) {
        return;
    }
#endif
    _exit(126);
}

}  // namespace

pid_t StartProcess(const Command& command, int stdinFd, int stdoutFd, int stderrFd) {
    std::vector<char*> argv;
    for (const std::string& arg : command.argv) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid < 0) {
        ThrowSystemError("fork");
    }
    if (pid == 0) {
        const int in = AboveStandard(stdinFd);
        const int out = AboveStandard(stdoutFd);
        const int err = AboveStandard(stderrFd);
        PlaceDescriptor(in, STDIN_FILENO);
        PlaceDescriptor(out, STDOUT_FILENO);
        PlaceDescriptor(err, STDERR_FILENO);
        ApplyEnvironment(command);
        if (!command.directory.empty() && chdir(command.directory.c_str()) != 0) {
            _exit(127);
        }
        if (command.terminalSession && (setsid() < 0 || ioctl(STDIN_FILENO, TIOCSCTTY, 0) != 0)) {
            _exit(127);
        }
        if (command.forbidTimeStampCounter) {
            ForbidTimeStampCounterOrExit();
        }
        execvp(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

ProcessExit WaitForProcess(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            ThrowSystemError("waitpid");
        }
    }
    ProcessExit result;
    result.exited = WIFEXITED(status);
    result.status = result.exited ? WEXITSTATUS(status) : -1;
    result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    return result;
}

ProcessResult RunProcess(const Command& command, const std::string& input) {
    int inPipe[2], outPipe[2], errPipe[2];
    if (pipe2(inPipe, O_CLOEXEC) != 0 || pipe2(outPipe, O_CLOEXEC) != 0 ||
        pipe2(errPipe, O_CLOEXEC) != 0) {
        ThrowSystemError("pipe2");
    }
    const pid_t pid = StartProcess(command, inPipe[0], outPipe[1], errPipe[1]);
    close(inPipe[0]);
    close(outPipe[1]);
    close(errPipe[1]);
    // The input is small: it fits in the pipe, so writing it all first cannot block. A child
    // that ended without reading it (a rejected scenario) is no failure of the test.
    if (!input.empty()) {
        WriteIgnoringGoneReader(inPipe[1], input);
    }
    close(inPipe[1]);

    ProcessResult result;
    bool outOpen = true, errOpen = true;
    while (outOpen || errOpen) {
        pollfd fds[2] = {{outOpen ? outPipe[0] : -1, POLLIN, 0},
                         {errOpen ? errPipe[0] : -1, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0 && errno != EINTR) {
            ThrowSystemError("poll");
        }
        if (outOpen && fds[0].revents != 0) {
            DrainInto(outPipe[0], result.out, outOpen);
        }
        if (errOpen && fds[1].revents != 0) {
            DrainInto(errPipe[0], result.err, errOpen);
        }
    }
    close(outPipe[0]);
    close(errPipe[0]);
    result.exit = WaitForProcess(pid);
    return result;
}

std::string WriteTempFile(const std::string& name, const std::string& contents) {
    const char* base = std::getenv("TMPDIR");
    std::string path = std::string(base != nullptr ? base : "/tmp") + "/cpuprobe-test-" +
                       std::to_string(getpid()) + "-" + name;
    std::ofstream(path, std::ios::binary) << contents;
    return path;
}

std::string ReadWholeFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}
