// What a caller of the stand-in KelmorPort.dll reads with GetLastError()
// after a refused open: 183 exactly when the port is held, and never a value
// left over from before the call, which a probe's copy would take for "held".
//   lasterror_check.exe ENDPOINT   (a running virtual printer)
#include <stdio.h>

#include "portlib/KelmorPort.h"

#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace {

unsigned failures = 0;

void expect(bool ok, const char* what)
{
    if (ok) return;
    printf("failed: %s (last error %lu)\n", what, static_cast<unsigned long>(GetLastError()));
    ++failures;
}

// Opens that must be refused for a reason other than a held port.
void expectRefusedNotHeld(const char* name, const char* settings, const char* what)
{
    SetLastError(ERROR_ALREADY_EXISTS);
    PortHandle port = OpenPortA(name, settings, 2000);
    DWORD error = GetLastError();
    if (port != nullptr) ClosePort(port);
    expect(port == nullptr && error != ERROR_ALREADY_EXISTS && error != 0, what);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        printf("usage: lasterror_check ENDPOINT\n");
        return 2;
    }
    const char* endpoint = argv[1];

    expectRefusedNotHeld("", "", "an empty port name");
    expectRefusedNotHeld("127.0.0.1:99999", "", "a port number out of range");
    expectRefusedNotHeld("127.0.0.1:1", "", "a printer that is not there");
    expectRefusedNotHeld(endpoint, "no-such-setting=1", "unknown settings");

    PortHandle holder = OpenPortA(endpoint, "", 5000);
    expect(holder != nullptr, "the first open");
    SetLastError(0);
    PortHandle second = OpenPortA(endpoint, "", 5000);
    expect(second == nullptr && GetLastError() == ERROR_ALREADY_EXISTS, "a second open while held: 183");
    if (second != nullptr) ClosePort(second);
    if (holder != nullptr) ClosePort(holder);

    PortHandle again = OpenPortA(endpoint, "", 5000);
    expect(again != nullptr, "an open after the close");
    if (again != nullptr) ClosePort(again);

    printf("lasterror_check: %u failed\n", failures);
    return failures == 0 ? 0 : 1;
}
