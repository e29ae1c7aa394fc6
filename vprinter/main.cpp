// vprinter: a virtual printer for the port library to talk to, and the
// commands that play its operator.
#include <fcntl.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "vprinter/server.h"
#include "wire/control.h"
#include "wire/nearest_name.h"

namespace {

const char USAGE[] = "usage:\n"
                     "  vprinter serve ENDPOINT [--name NAME] [--rate BYTES_PER_SEC] [--print-ms N]\n"
                     "                          [--print-speed BYTES_PER_SEC] [--max-clients N]\n"
                     "                          [--capture FILE] [--no-console] [--quiet] [--fault NAME[:N]]...\n"
                     "                          [--http HOST:PORT]\n"
                     "  vprinter set ENDPOINT key=value...\n"
                     "  vprinter mark ENDPOINT TEXT...   (a divider on the paper, e.g. where a test begins)\n"
                     "  vprinter get ENDPOINT\n"
                     "  vprinter --help\n"
                     "ENDPOINT is a socket path or 127.0.0.1:PORT (PORT 0 picks a free port); a socket\n"
                     "in a folder of your own, e.g. $XDG_RUNTIME_DIR/printer.sock, is nobody else's.\n"
                     "--http serves the printer's front page, e.g. at 127.0.0.1:0 (a free port).\n"
                     "A checked block's job takes --print-ms (4000 by default, a person's pace) plus its\n"
                     "bytes at --print-speed (4000000 by default); vpoperator asks for 100 ms.\n";

int usage(const char* problem)
{
    fprintf(stderr, "vprinter: %s\n%s", problem, USAGE);
    return 2;
}

bool isHelp(const std::string& word) { return word == "--help" || word == "-h"; }

const std::vector<std::string> commands = { "serve", "set", "mark", "get" };
// serve's options: those without a value, then those with one.
const std::vector<std::string> serveFlags = { "--no-console", "--quiet" };
const std::vector<std::string> serveValues
    = { "--name", "--rate", "--print-ms", "--print-speed", "--max-clients", "--capture", "--http", "--fault" };

int unknownOption(const std::string& option)
{
    std::vector<std::string> known = serveFlags;
    known.insert(known.end(), serveValues.begin(), serveValues.end());
    return usage(wire::unknownName("option", option, known).c_str());
}

// A descriptor among 0 to 2 that whoever started this program left closed
// would be taken by the next file opened, and a pipe or socket would be read
// as the console or written to as the output: each gets /dev/null. False
// when one cannot be opened.
bool openStandardStreams(bool* inputClosed)
{
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1) continue;
        // The lowest free descriptor is this one.
        if (open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY) != fd) return false;
        if (fd == 0) *inputClosed = true;
    }
    return true;
}

bool parseNumber(const char* text, uint32_t* value)
{
    size_t length = strlen(text);
    if (length == 0 || length > 9 || strspn(text, "0123456789") != length) return false;
    *value = static_cast<uint32_t>(strtoul(text, nullptr, 10));
    return true;
}

int serveCommand(int argc, char** argv, bool inputClosed)
{
    vprinter::ServerOptions options;
    options.endpoint = argv[2];
    // Without standard input there is no console: the printer serves until
    // a signal stops it.
    options.console = !inputClosed;
    for (int i = 3; i < argc; ++i) {
        std::string option = argv[i];
        if (option == "--no-console") {
            options.console = false;
            continue;
        }
        if (option == "--quiet") {
            options.quiet = true;
            continue;
        }
        if (std::find(serveValues.begin(), serveValues.end(), option) == serveValues.end())
            return unknownOption(option);
        if (i + 1 >= argc) return usage(("missing value after " + option).c_str());
        const char* value = argv[++i];
        if (option == "--name") {
            options.device.name = value;
            if (options.device.name.empty() || options.device.name.find_first_of("\n") != std::string::npos) {
                return usage("--name needs a one-line name");
            }
        } else if (option == "--rate") {
            if (!parseNumber(value, &options.device.bytesPerSecond)) return usage("--rate needs a number");
        } else if (option == "--print-ms") {
            if (!parseNumber(value, &options.device.printMs)) return usage("--print-ms needs a number");
        } else if (option == "--print-speed") {
            if (!parseNumber(value, &options.device.printBytesPerSecond)) return usage("--print-speed needs a number");
        } else if (option == "--max-clients") {
            if (!parseNumber(value, &options.maxClients) || options.maxClients == 0 || options.maxClients > 100000) {
                return usage("--max-clients needs a number from 1 to 100000");
            }
        } else if (option == "--capture") {
            options.capturePath = value;
        } else if (option == "--http") {
            std::string error;
            options.http.emplace();
            if (!vprinter::parseHttpAddress(value, &*options.http, &error)) return usage(error.c_str());
        } else if (option == "--fault") {
            std::string error;
            if (!vprinter::addPrinterFault(&options.faults, value, &error)) return usage(error.c_str());
        } else {
            return unknownOption(option);
        }
    }
    return vprinter::serve(options);
}

} // namespace

int main(int argc, char** argv)
{
    bool inputClosed = false;
    if (!openStandardStreams(&inputClosed)) return 2;
    for (int i = 1; i < argc; ++i) {
        if (!isHelp(argv[i])) continue;
        printf("%s", USAGE);
        return 0;
    }
    if (argc < 2) return usage("missing command: serve, set, mark or get");
    std::string command = argv[1];
    if (std::find(commands.begin(), commands.end(), command) == commands.end())
        return usage(wire::unknownName("command", command, commands).c_str());
    if (argc < 3) return usage((command + " needs the printer's endpoint").c_str());
    // An option where the endpoint belongs is a slip, never a file to serve on.
    if (argv[2][0] == '-') return usage(("the endpoint comes first, not " + std::string(argv[2])).c_str());
    if (command == "serve") return serveCommand(argc, argv, inputClosed);
    std::string error;
    if (command == "set") {
        if (argc < 4) return usage("set needs at least one key=value");
        if (!wire::vprinterSet(argv[2], std::vector<std::string>(argv + 3, argv + argc), &error)) {
            fprintf(stderr, "vprinter: %s\n", error.c_str());
            return 2;
        }
        return 0;
    }
    if (command == "mark") {
        if (argc < 4) return usage("mark needs the text to put on the paper");
        std::string text = argv[3];
        for (int i = 4; i < argc; ++i) text += std::string(" ") + argv[i];
        if (!wire::vprinterMark(argv[2], text, &error)) {
            fprintf(stderr, "vprinter: %s\n", error.c_str());
            return 2;
        }
        return 0;
    }
    if (command == "get") {
        if (argc != 3) return usage("get takes only the endpoint");
        std::string text;
        if (!wire::vprinterGetText(argv[2], &text, &error)) {
            fprintf(stderr, "vprinter: %s\n", error.c_str());
            return 2;
        }
        fputs(text.c_str(), stdout);
        return 0;
    }
    return usage(wire::unknownName("command", command, commands).c_str());
}
