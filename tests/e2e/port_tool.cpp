// A third process for the locking end-to-end tests, speaking to the real
// library:
//   port_tool hold PORT  opens the port, prints "held", keeps it until SIGTERM
//   port_tool try PORT   opens and closes at once
// Exit 0 on success, 3 when refused as held elsewhere, 4 on any other refusal,
// 2 on bad usage.
#include <signal.h>
#include <stdio.h>
#include <string.h>

#include "platform/platform.h"
#include "portlib/KelmorPort.h"

static int refusal()
{
    uint32_t error = platform::GetLastError();
    printf("refused %u\n", error);
    return error == platform::LAST_ERROR_ALREADY_EXISTS ? 3 : 4;
}

int main(int argc, char** argv)
{
    if (argc != 3 || (strcmp(argv[1], "hold") != 0 && strcmp(argv[1], "try") != 0)) {
        fprintf(stderr, "usage: port_tool hold|try PORT\n");
        return 2;
    }
    bool hold = strcmp(argv[1], "hold") == 0;
    // Blocked before the open so a SIGTERM that arrives early is still
    // waited for, not fatal with the port half-held.
    sigset_t term;
    sigemptyset(&term);
    sigaddset(&term, SIGTERM);
    if (hold) sigprocmask(SIG_BLOCK, &term, nullptr);

    PortHandle port = OpenPortA(argv[2], "", 5000);
    if (port == nullptr) return refusal();
    if (hold) {
        printf("held\n");
        fflush(stdout);
        int signal;
        sigwait(&term, &signal);
    }
    ClosePort(port);
    printf("opened\n");
    return 0;
}
