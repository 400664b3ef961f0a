// Watching a program started from a test (Linux): whether it sits waiting for its input, what
// it shows on a terminal, and its end, each within a bound so that a fault fails the test
// instead of hanging it.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "tests/support/process.h"

// Far longer than any run of the tools takes even on a loaded machine; reaching it fails.
constexpr std::chrono::seconds kPatience{15};

// True once the child has ended; it is left to be collected by WaitForProcess.
bool HasExited(pid_t pid);

// Waits for the child to end, but no longer than kPatience: a program that does not end is
// killed and nullopt returned. Where the system cannot watch a process through a descriptor,
// ctest's own timeout is the bound.
std::optional<ProcessExit> WaitWithPatience(pid_t pid);

// Whether this system shows a child's system call, so that a test can see a program wait for
// its input. Yama's ptrace_scope 2 and 3 hide it from ordinary users, and some sandboxes
// (gVisor) have no such file. Asked of a child that only waits, once per run.
bool CanSeeChildSystemCalls();

// True once the child sits in read() on its stdin, as /proc shows it. False if it ends first
// or takes longer than kPatience.
bool WaitUntilReadingStdin(pid_t pid);

// True once any thread of the child sits in read() on a descriptor open on the same file as
// this process's `fd` (an emulator such as Wine reads stdin through a duplicate of it, and a
// 32-bit program through the 32-bit system call). False if it ends first or after kPatience.
bool WaitUntilAnyThreadReads(pid_t pid, int fd);

// Reads from the descriptor (a terminal's master side) until what has arrived satisfies
// `done`, the other side closes, or kPatience runs out; returns all that arrived.
std::string ReadUntil(int fd, const std::function<bool(const std::string&)>& done);

// What a terminal showed, with each "\r\n" as "\n"; false if any "\n" came without its "\r".
bool FromTerminalLines(const std::string& shown, std::string& text);
