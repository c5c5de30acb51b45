// Runs a built program as a user would, with a time limit, and collects what it printed.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace zembra::testing {

struct TProgramResult {
    int Status = -1;  // exit status; -1 when it did not exit by itself
    int Signal = 0;   // the signal that ended it, if one did
    bool TimedOut = false;
    std::string Out;
    std::string Err;
};

struct TRunOptions {
    // Run in the C locale, so that every name beyond ASCII is outside it.
    bool CLocale = false;
    // Called while the program runs with what it printed so far; may act on the process (send
    // it a signal, say).
    std::function<void(pid_t, const TProgramResult&)> Watch;
};

// Runs Program with Arguments; kills it when it outlives Limit.
inline TProgramResult RunProgram(const std::string& Program, const std::vector<std::string>& Arguments,
                                 std::chrono::milliseconds Limit, const TRunOptions& Options = {}) {
    TProgramResult R;
    int OutPipe[2], ErrPipe[2];
    if (::pipe2(OutPipe, O_CLOEXEC) != 0) return R;
    if (::pipe2(ErrPipe, O_CLOEXEC) != 0) {
        ::close(OutPipe[0]);
        ::close(OutPipe[1]);
        return R;
    }
    posix_spawn_file_actions_t Actions;
    posix_spawn_file_actions_init(&Actions);
    posix_spawn_file_actions_adddup2(&Actions, OutPipe[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&Actions, ErrPipe[1], STDERR_FILENO);
    std::vector<std::string> Args = {Program};
    Args.insert(Args.end(), Arguments.begin(), Arguments.end());
    std::vector<char*> Argv;
    for (std::string& A : Args) Argv.push_back(A.data());
    Argv.push_back(nullptr);
    std::vector<std::string> Env;
    for (char** E = environ; *E; ++E)
        if (!Options.CLocale || (std::strncmp(*E, "LC_", 3) != 0 && std::strncmp(*E, "LANG", 4) != 0))
            Env.emplace_back(*E);
    if (Options.CLocale) Env.emplace_back("LC_ALL=C");
    std::vector<char*> Envp;
    for (std::string& E : Env) Envp.push_back(E.data());
    Envp.push_back(nullptr);
    pid_t Pid = 0;
    const int Spawned = posix_spawn(&Pid, Program.c_str(), &Actions, nullptr, Argv.data(), Envp.data());
    posix_spawn_file_actions_destroy(&Actions);
    ::close(OutPipe[1]);
    ::close(ErrPipe[1]);
    if (Spawned != 0) {
        ::close(OutPipe[0]);
        ::close(ErrPipe[0]);
        R.Err = "spawn failed";
        return R;
    }
    const auto Deadline = std::chrono::steady_clock::now() + Limit;
    pollfd Fds[2] = {{OutPipe[0], POLLIN, 0}, {ErrPipe[0], POLLIN, 0}};
    std::string* Sinks[2] = {&R.Out, &R.Err};
    int Open = 2;
    while (Open > 0 && std::chrono::steady_clock::now() < Deadline) {
        if (::poll(Fds, 2, 50) < 0) break;
        for (int I = 0; I < 2; ++I) {
            pollfd& F = Fds[I];
            if (F.fd < 0 || !(F.revents & (POLLIN | POLLHUP | POLLERR))) continue;
            char Buf[4096];
            const ssize_t N = ::read(F.fd, Buf, sizeof(Buf));
            if (N <= 0) {
                ::close(F.fd);
                F.fd = -1;
                --Open;
                continue;
            }
            Sinks[I]->append(Buf, static_cast<size_t>(N));
        }
        if (Options.Watch) Options.Watch(Pid, R);
    }
    for (pollfd& F : Fds)
        if (F.fd >= 0) ::close(F.fd);
    int Status = 0;
    while (::waitpid(Pid, &Status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() >= Deadline) {
            R.TimedOut = true;
            ::kill(Pid, SIGKILL);
            ::waitpid(Pid, &Status, 0);
            return R;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (WIFEXITED(Status)) R.Status = WEXITSTATUS(Status);
    if (WIFSIGNALED(Status)) R.Signal = WTERMSIG(Status);
    return R;
}

// The non-empty lines of Text.
inline std::vector<std::string> Lines(const std::string& Text) {
    std::vector<std::string> L;
    std::istringstream In(Text);
    for (std::string Line; std::getline(In, Line);)
        if (!Line.empty()) L.push_back(Line);
    return L;
}

}  // namespace zembra::testing
