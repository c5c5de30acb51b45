#include "tests/ui/PrivateSessionBus.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cstdlib>

namespace zembra::testing {

namespace {

std::string Launch() {
    int Pipe[2];
    if (pipe2(Pipe, O_CLOEXEC) != 0) return {};
    const pid_t Parent = getpid();
    const pid_t Child = fork();
    if (Child < 0) {
        close(Pipe[0]);
        close(Pipe[1]);
        return {};
    }
    if (Child == 0) {
        // The daemon goes when the test program goes, however it ends.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != Parent) _exit(1);
        if (dup2(Pipe[1], 3) < 0) _exit(1);
        const int Null = open("/dev/null", O_RDWR);
        if (Null >= 0) {
            dup2(Null, 0);
            dup2(Null, 1);
            dup2(Null, 2);  // it complains of the file limit it may not raise
        }
        // Not the sanitizers' run-time the tests may be running under: the daemon is not ours.
        unsetenv("LD_PRELOAD");
        execlp("dbus-daemon", "dbus-daemon", "--session", "--nofork", "--nopidfile", "--print-address=3",
               static_cast<char*>(nullptr));
        _exit(127);
    }
    close(Pipe[1]);
    std::string Address;
    char C = 0;
    while (read(Pipe[0], &C, 1) == 1 && C != '\n') Address += C;
    close(Pipe[0]);
    return Address;
}

}  // namespace

std::string StartPrivateSessionBus() {
    static const std::string Address = [] {
        std::string A = Launch();
        if (A.empty())
            unsetenv("DBUS_SESSION_BUS_ADDRESS");
        else
            setenv("DBUS_SESSION_BUS_ADDRESS", A.c_str(), 1);
        return A;
    }();
    return Address;
}

}  // namespace zembra::testing
