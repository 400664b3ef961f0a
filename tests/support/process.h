// Running the tool as a process from a test (POSIX): its stdin, stdout and stderr, its
// environment, and how it ended.
#pragma once

#include <sys/types.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

struct Command {
    std::vector<std::string> argv;  // argv[0] is the path of the program
    // Variables to set, or to remove where the value is std::nullopt.
    std::map<std::string, std::optional<std::string>> environment;
    // Linux only: the program may not read the time-stamp counter (prctl PR_SET_TSC), as a
    // sandbox can arrange; RDTSC then raises SIGSEGV.
    bool forbidTimeStampCounter = false;
    // The folder the program starts in; empty: this process's own.
    std::string directory;
    // The program leads a session of its own whose controlling terminal is its stdin, as in a
    // terminal window (Wine's console needs one).
    bool terminalSession = false;
};

// Starts the program with the given descriptors as its stdin, stdout and stderr; -1 leaves
// that stream closed in the child. The caller keeps its own descriptors and waits for it.
pid_t StartProcess(const Command& command, int stdinFd, int stdoutFd, int stderrFd);

struct ProcessExit {
    bool exited = false;  // ended through exit or return from main
    int status = -1;      // exit status when it exited
    int signal = 0;       // the signal that ended it otherwise
};

ProcessExit WaitForProcess(pid_t pid);

struct ProcessResult {
    ProcessExit exit;
    std::string out;
    std::string err;
};

// Runs the program to its end with `input` on its stdin (then end of file) and returns what
// it wrote to stdout and stderr.
ProcessResult RunProcess(const Command& command, const std::string& input);

// A file under the test's own temporary folder, removed by the caller when it likes.
std::string WriteTempFile(const std::string& name, const std::string& contents);

std::string ReadWholeFile(const std::string& path);
