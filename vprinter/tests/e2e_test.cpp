// The library, the control client and `vprinter serve` as real processes.
#include <arpa/inet.h>
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "portlib/KelmorPort.h"
#include "wire/control.h"
#include "wire/endpoint.h"
#include "wire/portlock.h"
#include "wire/protocol.h"
#include "wire/transport.h"

extern char** environ;

namespace {

const uint32_t LIMIT = 5000;
const char FIRMWARE_QUERY[] = { 0x1B, 0x23, 0x2A, 0x0A, 0x00 };
const char ESC_K[] = { 0x1B, 0x4B, 0x01, 0x00 };

// Runs a program to its end; returns its exit status and, if asked, its
// standard output. With `started`, leaves it running and reads only its
// first `lines` lines.
int run(const std::vector<std::string>& args, std::string* output = nullptr, pid_t* started = nullptr, int lines = 1)
{
    int out[2];
    if (pipe(out) != 0) return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    pid_t pid;
    int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (spawned != 0) {
        close(out[0]);
        return -1;
    }
    if (started) {
        // The caller reads the first line itself and waits later.
        *started = pid;
        if (output) {
            output->clear();
            char c;
            pollfd p = { out[0], POLLIN, 0 };
            while (poll(&p, 1, 20000) > 0 && read(out[0], &c, 1) == 1 && (c != '\n' || --lines > 0)) *output += c;
        }
        close(out[0]);
        return 0;
    }
    std::string text;
    char buffer[4096];
    ssize_t got;
    while ((got = read(out[0], buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(got));
    close(out[0]);
    if (output) *output = text;
    int status;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The loopback address of `family` (AF_INET or AF_INET6) at `port`.
sockaddr_storage loopback(int family, uint16_t port)
{
    sockaddr_storage address = {};
    address.ss_family = static_cast<sa_family_t>(family);
    if (family == AF_INET) {
        reinterpret_cast<sockaddr_in*>(&address)->sin_port = htons(port);
        reinterpret_cast<sockaddr_in*>(&address)->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    } else {
        reinterpret_cast<sockaddr_in6*>(&address)->sin6_port = htons(port);
        reinterpret_cast<sockaddr_in6*>(&address)->sin6_addr = in6addr_loopback;
    }
    return address;
}

// A listener of our own on `family`'s loopback at `port` (0: a free one),
// or -1 with errno.
int listenOnLoopback(int family, uint16_t port)
{
    int fd = socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    if (family == AF_INET6) setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one);
    sockaddr_storage address = loopback(family, port);
    if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && listen(fd, 1) == 0)
        return fd;
    int failure = errno;
    if (fd >= 0) close(fd);
    errno = failure;
    return -1;
}

uint16_t localPort(int fd)
{
    sockaddr_storage address = {};
    socklen_t size = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    return ntohs(address.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&address)->sin6_port
                                               : reinterpret_cast<sockaddr_in*>(&address)->sin_port);
}

// This machine has IPv6's loopback.
bool haveIpv6Loopback()
{
    int fd = listenOnLoopback(AF_INET6, 0);
    if (fd >= 0) close(fd);
    return fd >= 0;
}

// A connection of a client that speaks for itself, or -1.
int connectTo(const std::string& path)
{
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return fd;
    close(fd);
    return -1;
}

// The printer closes the connection, within 20 s, without a word.
bool hungUpOn(int fd)
{
    char c;
    pollfd p = { fd, POLLIN, 0 };
    return poll(&p, 1, 20000) == 1 && recv(fd, &c, 1, 0) == 0;
}

std::string frameBytes(uint16_t op, uint32_t seq, std::vector<uint8_t> payload = {})
{
    wire::Frame frame;
    frame.op = op;
    frame.seq = seq;
    frame.payload = std::move(payload);
    std::vector<uint8_t> bytes = wire::encode(frame);
    return std::string(bytes.begin(), bytes.end());
}

std::vector<uint8_t> u32s(std::initializer_list<uint32_t> values)
{
    std::vector<uint8_t> bytes;
    for (uint32_t value : values) wire::putU32(bytes, value);
    return bytes;
}

// The sequence number of the next reply on fd, or -1 when none comes in time.
long replySeq(int fd, uint32_t limitMs)
{
    uint64_t deadline = wire::monotonicMs() + limitMs;
    uint8_t header[wire::HEADER_SIZE];
    if (wire::receiveAll(fd, header, sizeof header, deadline) != wire::IoResult::Done) return -1;
    std::vector<uint8_t> payload(wire::getU32(header + 12));
    if (wire::receiveAll(fd, payload.data(), payload.size(), deadline) != wire::IoResult::Done) return -1;
    return wire::getU32(header + 8);
}

// Processor time a process has used, in clock ticks.
long cpuTicks(pid_t pid)
{
    FILE* file = fopen(("/proc/" + std::to_string(pid) + "/stat").c_str(), "r");
    if (file == nullptr) return -1;
    char text[1024] = {};
    size_t got = fread(text, 1, sizeof text - 1, file);
    fclose(file);
    const char* after = strrchr(text, ')');
    long user = 0;
    long system = 0;
    // After the name: state and ten more fields, then user and system time.
    if (got == 0 || after == nullptr
        || sscanf(after + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %ld %ld", &user, &system) != 2)
        return -1;
    return user + system;
}

int waitFor(pid_t pid)
{
    int status;
    if (waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// A virtual printer in a fresh directory, stopped and cleaned up at the end.
class PrinterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/vprinter-e2e-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        endpoint = dir + "/printer.sock";
    }

    void TearDown() override
    {
        stop();
        if (!lockFile.empty()) unlink(lockFile.c_str());
        DIR* d = opendir(dir.c_str());
        if (d) {
            while (dirent* entry = readdir(d)) {
                if (entry->d_name[0] != '.') unlink((dir + "/" + entry->d_name).c_str());
            }
            closedir(d);
        }
        rmdir(dir.c_str());
    }

    // Starts `vprinter serve`, through `launcher` if given, and returns its
    // first lines.
    std::string start(const std::string& where, std::vector<std::string> options = {}, int lines = 1,
        std::vector<std::string> launcher = {})
    {
        std::vector<std::string> args = launcher;
        for (const char* arg : { VPRINTER_PROGRAM, "serve", where.c_str(), "--no-console", "--quiet" })
            args.push_back(arg);
        args.insert(args.end(), options.begin(), options.end());
        std::string line;
        run(args, &line, &server, lines);
        return line;
    }

    // Starts a printer with its page at `http`: sets `page` (its port) and
    // `token` from the address it prints.
    void startWithPage(const std::string& http = "127.0.0.1:0", std::vector<std::string> launcher = {})
    {
        std::string lines = start(endpoint, { "--http", http }, 2, launcher);
        std::string host = http.substr(0, http.rfind(':'));
        size_t at = lines.find("page at http://" + host + ":");
        ASSERT_NE(at, std::string::npos) << lines;
        page = static_cast<uint16_t>(atoi(lines.c_str() + at + strlen("page at http://:") + host.size()));
        size_t secret = lines.find("/?token=");
        ASSERT_NE(secret, std::string::npos) << lines;
        token = lines.substr(secret + strlen("/?token="));
    }

    // A request to the page with its secret and Host (unless `headers` has
    // one), and `content`; the status of the answer, and its body if asked.
    int ask(const std::string& what, const std::string& headers = "", const std::string& content = "",
        std::string* body = nullptr)
    {
        std::string host = "Host: 127.0.0.1:" + std::to_string(page) + "\r\n";
        std::string length = content.empty() ? "" : "Content-Length: " + std::to_string(content.size()) + "\r\n";
        return http(what + " HTTP/1.1\r\n" + (headers.find("Host:") == std::string::npos ? host : "") + headers + length
                + "X-Vprinter-Token: " + token + "\r\n\r\n" + content,
            body);
    }

    // Sends a request as it stands, to `family`'s loopback address, then
    // reads the answer to its end.
    int http(const std::string& request, std::string* body = nullptr, std::string* head = nullptr, int family = AF_INET)
    {
        int fd = connectPage(family);
        if (fd < 0 || send(fd, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size())) {
            if (fd >= 0) close(fd);
            return -1;
        }
        std::string answer;
        char buffer[65536];
        pollfd p = { fd, POLLIN, 0 };
        ssize_t got;
        while (poll(&p, 1, 10000) == 1 && (got = recv(fd, buffer, sizeof buffer, 0)) > 0) answer.append(buffer, got);
        close(fd);
        size_t end = answer.find("\r\n\r\n");
        if (body) *body = end == std::string::npos ? "" : answer.substr(end + 4);
        if (head) *head = answer.substr(0, end);
        return answer.compare(0, 9, "HTTP/1.1 ") == 0 ? atoi(answer.c_str() + 9) : -1;
    }

    int connectPage(int family = AF_INET)
    {
        int fd = socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_storage address = loopback(family, page);
        if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return fd;
        close(fd);
        return -1;
    }

    void startHere(std::vector<std::string> options = {})
    {
        ASSERT_EQ(start(endpoint, options), "listening on " + endpoint);
        // A holder the test kills leaves the library's lock for this socket behind.
        wire::Endpoint where;
        std::string error;
        if (wire::parseEndpoint(endpoint, &where, &error)) lockFile = wire::portLockPlace(wire::lockName(where));
    }

    void stop()
    {
        if (server <= 0) return;
        kill(server, SIGTERM);
        serverStatus = waitFor(server);
        server = -1;
    }

    void set(const std::vector<std::string>& words)
    {
        std::string error;
        ASSERT_TRUE(vprinterSet(endpoint, words, &error)) << error;
    }

    std::string dir;
    std::string endpoint;
    std::string lockFile;
    pid_t server = -1;
    int serverStatus = -1;
    uint16_t page = 0;
    std::string token;
};

TEST_F(PrinterTest, OpenAndCloseAHundredTimes)
{
    startHere();
    for (int i = 0; i < 100; ++i) {
        PortHandle port = OpenPortA(endpoint.c_str(), "", LIMIT);
        ASSERT_NE(port, nullptr) << "open " << i;
        ASSERT_NE(ClosePort(port), VX_FALSE);
    }
    EXPECT_EQ(OpenPortA((endpoint + "aReallyHorriblyBadSuffix").c_str(), "", LIMIT), nullptr);
}

TEST_F(PrinterTest, HeldPortIsRefusedWithEBUSYHereAndInAnotherProcess)
{
    startHere();
    PortHandle port = OpenPortA(endpoint.c_str(), "", LIMIT);
    ASSERT_NE(port, nullptr);
    errno = 0;
    EXPECT_EQ(OpenPortA(endpoint.c_str(), "", LIMIT), nullptr);
    EXPECT_EQ(errno, EBUSY);

    pid_t child = fork();
    if (child == 0) {
        PortHandle second = OpenPortA(endpoint.c_str(), "", LIMIT);
        _exit(second == nullptr && errno == EBUSY ? 0 : 1);
    }
    EXPECT_EQ(waitFor(child), 0);

    ClosePort(port);
    child = fork();
    if (child == 0) _exit(OpenPortA(endpoint.c_str(), "", LIMIT) != nullptr ? 0 : 1);
    EXPECT_EQ(waitFor(child), 0) << "a closed port is free for another process at once";
}

TEST_F(PrinterTest, KillingTheHolderMidCallFreesThePortAndSparesThePrinter)
{
    startHere({ "--print-ms", "60000" });
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t child = fork();
    if (child == 0) {
        PortHandle port = OpenPortA(endpoint.c_str(), "", 60000);
        unsigned char record[VX_STATUS_LEVEL1_SIZE];
        uint32_t written;
        if (port == nullptr || BeginCheckedBlockEx(port, record, 1) == VX_FALSE) _exit(1);
        WritePort(port, "job", 3, &written);
        ssize_t ignored = write(ready[1], "r", 1);
        (void)ignored;
        // Waits for a job that takes a minute: killed in the middle.
        EndCheckedBlockEx(port, record, 1);
        _exit(0);
    }
    close(ready[1]);
    char c;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    close(ready[0]);
    errno = 0;
    EXPECT_EQ(OpenPortA(endpoint.c_str(), "", LIMIT), nullptr);
    EXPECT_EQ(errno, EBUSY);
    kill(child, SIGKILL);
    waitFor(child);

    PortHandle port = OpenPortA(endpoint.c_str(), "", LIMIT);
    ASSERT_NE(port, nullptr);
    VX_BOOL online = 0;
    EXPECT_NE(GetOnlineStatus(port, &online), VX_FALSE);
    EXPECT_EQ(online, 1);
    ClosePort(port);
}

TEST_F(PrinterTest, UnpluggedOrOffEveryCallFailsThenTheSameHandleWorksAgain)
{
    startHere();
    PortHandle port = OpenPortA(endpoint.c_str(), "", LIMIT);
    ASSERT_NE(port, nullptr);
    for (const char* away : { "connected=no", "power=off" }) {
        SCOPED_TRACE(away);
        set({ away });
        unsigned char record[VX_STATUS_LEVEL1_SIZE];
        char buffer[100];
        uint32_t count = 7;
        VX_BOOL online = 1;
        EXPECT_EQ(ResetDevice(port), VX_FALSE);
        EXPECT_EQ(GetParsedStatusEx(port, record, 1), VX_FALSE);
        EXPECT_EQ(GetParsedStatus(port, record), VX_FALSE);
        EXPECT_EQ(BeginCheckedBlockEx(port, record, 1), VX_FALSE);
        EXPECT_EQ(GetOnlineStatus(port, &online), VX_FALSE);
        EXPECT_TRUE(WritePort(port, FIRMWARE_QUERY, 5, &count) == VX_FALSE || count == 0);
        EXPECT_TRUE(ReadPort(port, buffer, sizeof buffer, &count) == VX_FALSE || count == 0);

        set({ "connected=yes", "power=on" });
        EXPECT_NE(ResetDevice(port), VX_FALSE);
        ASSERT_NE(WritePort(port, FIRMWARE_QUERY, 5, &count), VX_FALSE);
        EXPECT_EQ(count, 5u);
        ASSERT_NE(ReadPort(port, buffer, sizeof buffer, &count), VX_FALSE);
        EXPECT_EQ(std::string(buffer, count), std::string("\x1B#*,VPRINTER-1.0\n", 17) + '\0');
        EXPECT_NE(GetOnlineStatus(port, &online), VX_FALSE);
        EXPECT_EQ(online, 1);
    }
    ClosePort(port);
}

TEST_F(PrinterTest, StatusFollowsThePanelAndRecoversWithEscK)
{
    startHere();
    PortHandle port = OpenPortA(endpoint.c_str(), "", LIMIT);
    ASSERT_NE(port, nullptr);
    unsigned char record[VX_STATUS_LEVEL1_SIZE];
    unsigned char old[VX_STATUS_OLD_SIZE];
    set({ "cover=open", "paper=out" });
    ASSERT_NE(GetParsedStatusEx(port, record, 1), VX_FALSE);
    EXPECT_EQ(statusWord(record, VX_OFFSET_OFFLINE), 1);
    EXPECT_EQ(statusWord(record, VX_OFFSET_COVER_OPEN), 1);
    EXPECT_EQ(statusWord(record, VX_OFFSET_PAPER_EMPTY_LEVEL1), 1);
    ASSERT_NE(GetParsedStatus(port, old), VX_FALSE);
    EXPECT_EQ(statusWord(old, VX_OFFSET_PAPER_EMPTY_OLD), 1);
    uint32_t written = 1;
    ASSERT_NE(WritePort(port, ESC_K, 4, &written), VX_FALSE);
    EXPECT_EQ(written, 0u) << "an offline printer takes nothing";

    set({ "cover=closed", "paper=in" });
    VX_BOOL online = 1;
    ASSERT_NE(GetOnlineStatus(port, &online), VX_FALSE);
    EXPECT_EQ(online, 0) << "the error stays latched";
    ASSERT_NE(WritePort(port, ESC_K, 4, &written), VX_FALSE);
    ASSERT_NE(GetParsedStatusEx(port, record, 1), VX_FALSE);
    EXPECT_EQ(statusWord(record, VX_OFFSET_OFFLINE), 0);
    ClosePort(port);
}

TEST_F(PrinterTest, EndCheckedBlockReportsACoverOpenedWhilePrintingAndGivesUpAtTheLimit)
{
    startHere({ "--print-ms", "60000" });
    PortHandle port = OpenPortA(endpoint.c_str(), "", 30000);
    ASSERT_NE(port, nullptr);
    unsigned char record[VX_STATUS_LEVEL1_SIZE];
    uint32_t written;
    ASSERT_NE(BeginCheckedBlockEx(port, record, 1), VX_FALSE);
    ASSERT_NE(WritePort(port, "job", 3, &written), VX_FALSE);
    VX_BOOL ended = VX_FALSE;
    auto started = std::chrono::steady_clock::now();
    std::thread end([&] { ended = EndCheckedBlockEx(port, record, 1); });
    // However late this lands, the job still has most of a minute to go.
    set({ "cover=open" });
    end.join();
    ASSERT_NE(ended, VX_FALSE);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20))
        << "the open cover ends the wait, not the time limit";
    EXPECT_EQ(statusWord(record, VX_OFFSET_OFFLINE), 1);
    EXPECT_EQ(statusWord(record, VX_OFFSET_COVER_OPEN), 1);
    ClosePort(port);

    set({ "cover=closed", "online=yes" });
    port = OpenPortA(endpoint.c_str(), "timeout=200", LIMIT);
    ASSERT_NE(port, nullptr);
    ASSERT_NE(BeginCheckedBlockEx(port, record, 1), VX_FALSE);
    ASSERT_NE(WritePort(port, "job", 3, &written), VX_FALSE);
    EXPECT_EQ(EndCheckedBlockEx(port, record, 1), VX_FALSE) << "the job outlasts the time limit";
    EXPECT_NE(GetParsedStatusEx(port, record, 1), VX_FALSE) << "the handle is still good";
    ClosePort(port);
}

TEST_F(PrinterTest, MalformedClientsLoseOnlyTheirOwnConnection)
{
    startHere();
    PortHandle port = OpenPortA(endpoint.c_str(), "", LIMIT);
    ASSERT_NE(port, nullptr);
    const std::string garbage[] = {
        "GET / HTTP/1.0\r\n\r\n",
        // Right magic, a length far over the bound.
        std::string("KPV1\x02\x00\x00\x00\x01\x00\x00\x00\xFF\xFF\xFF\x7F", 16),
        // A port request before any HELLO.
        std::string("KPV1\x05\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00", 16),
    };
    for (const std::string& bytes : garbage) {
        int fd = connectTo(endpoint);
        ASSERT_EQ(send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
        EXPECT_TRUE(hungUpOn(fd)) << bytes.size() << " bad bytes";
        close(fd);
    }
    // A truncated frame from a client that then vanishes.
    int fd = connectTo(endpoint);
    ASSERT_EQ(send(fd, "KPV1\x01", 5, MSG_NOSIGNAL), 5);
    close(fd);

    uint32_t written = 0;
    ASSERT_NE(WritePort(port, FIRMWARE_QUERY, 5, &written), VX_FALSE);
    EXPECT_EQ(written, 5u);
    char buffer[100];
    uint32_t got = 0;
    ASSERT_NE(ReadPort(port, buffer, sizeof buffer, &got), VX_FALSE);
    EXPECT_EQ(got, 18u);
    ClosePort(port);
}

TEST_F(PrinterTest, SetAndGetCommands)
{
    startHere();
    std::string out;
    EXPECT_EQ(run({ VPRINTER_PROGRAM, "set", endpoint, "cover=open", "tof=in" }, &out), 0);
    EXPECT_EQ(run({ VPRINTER_PROGRAM, "get", endpoint }, &out), 0);
    EXPECT_NE(out.find("\ncover=open\n"), std::string::npos) << out;
    EXPECT_NE(out.find("\ntof=in\n"), std::string::npos) << out;
    EXPECT_NE(out.find("\noffline=yes\n"), std::string::npos) << out;
    EXPECT_EQ(run({ VPRINTER_PROGRAM, "set", endpoint, "cover=closed", "cover=ajar" }, &out), 2);
    EXPECT_EQ(run({ VPRINTER_PROGRAM, "set", endpoint, "smoke=yes" }, &out), 2);
    EXPECT_EQ(run({ VPRINTER_PROGRAM, "set", dir + "/nobody.sock", "cover=open" }, &out), 2);
    std::map<std::string, std::string> state;
    std::string error;
    ASSERT_TRUE(vprinterGet(endpoint, &state, &error)) << error;
    EXPECT_EQ(state["cover"], "open") << "a refused set changes nothing";
    EXPECT_EQ(state["error"], "yes");
}

// A session and a checked block each start a job; `get` lists both with
// the size and digest of what was sent, and the job's bytes come back whole.
TEST_F(PrinterTest, JobsOnThePaperAreWhatEachSessionAndBlockSent)
{
    startHere({ "--print-ms", "0" });
    uint32_t written;
    PortHandle port = OpenPortA(endpoint.c_str(), "", LIMIT);
    ASSERT_NE(port, nullptr);
    ASSERT_NE(WritePort(port, "abc", 3, &written), VX_FALSE);
    ClosePort(port);
    port = OpenPortA(endpoint.c_str(), "", LIMIT);
    ASSERT_NE(port, nullptr);
    ASSERT_NE(WritePort(port, "ab", 2, &written), VX_FALSE);
    unsigned char record[VX_STATUS_LEVEL1_SIZE];
    ASSERT_NE(BeginCheckedBlockEx(port, record, 1), VX_FALSE);
    ASSERT_NE(WritePort(port, "xy", 2, &written), VX_FALSE);
    ASSERT_NE(WritePort(port, "z", 1, &written), VX_FALSE);
    ASSERT_NE(EndCheckedBlockEx(port, record, 1), VX_FALSE);
    ASSERT_NE(WritePort(port, "!", 1, &written), VX_FALSE);
    ClosePort(port);

    std::string text;
    std::string error;
    ASSERT_TRUE(wire::vprinterGetText(endpoint, &text, &error)) << error;
    std::vector<wire::JobSummary> jobs = wire::jobsFromText(text);
    ASSERT_EQ(jobs.size(), 4u) << text;
    EXPECT_EQ(jobs[0].sha256, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad") << "abc";
    EXPECT_EQ(jobs[1].size, 2u);
    EXPECT_EQ(jobs[2].number, 3u);
    EXPECT_EQ(jobs[2].sha256, "3608bca1e44ea6c4d268eb6db02260269892c0b42b86bbf1e77a6fa16c3c9282") << "xyz";
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(wire::vprinterJob(endpoint, 3, &bytes, &error)) << error;
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "xyz");
    EXPECT_FALSE(wire::vprinterJob(endpoint, 5, &bytes, &error));
    EXPECT_EQ(error, "no job 5 on the paper");
}

TEST_F(PrinterTest, ServeClaimsOnlyWhatIsFreeAndCleansUp)
{
    // A socket file nobody listens on, as a crashed printer leaves it.
    int stale = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    strcpy(address.sun_path, endpoint.c_str());
    ASSERT_EQ(bind(stale, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    close(stale);
    startHere();

    std::string out;
    EXPECT_EQ(run({ VPRINTER_PROGRAM, "serve", endpoint, "--no-console" }, &out), 2) << "already served";
    std::string plain = dir + "/plain";
    close(open(plain.c_str(), O_CREAT | O_WRONLY, 0644));
    EXPECT_EQ(run({ VPRINTER_PROGRAM, "serve", plain, "--no-console" }, &out), 2) << "not a socket";
    struct stat info;
    EXPECT_EQ(stat(plain.c_str(), &info), 0) << "and left alone";
    EXPECT_EQ(run({ VPRINTER_PROGRAM, "serve", "10.1.2.3:9100", "--no-console" }, &out), 2);
    EXPECT_EQ(run({ VPRINTER_PROGRAM, "serve", "[::1]:x", "--no-console" }, &out), 2);
    EXPECT_NE(stat("[::1]:x", &info), 0) << "a name like a host and port is not taken for a file";
    EXPECT_EQ(run({ VPRINTER_PROGRAM, "serve", endpoint, "--rate", "fast" }, &out), 2);

    stop();
    EXPECT_EQ(serverStatus, 0);
    EXPECT_NE(stat(endpoint.c_str(), &info), 0) << "the socket file goes with the printer";
}

// The guide's example: a socket in a folder of one's own and the page on a
// free port, as two people on one machine can both follow it. The same in a
// folder everyone writes to comes with a warning.
TEST_F(PrinterTest, TheGuidesExampleNeedsNothingSharedAndASharedFolderIsWarnedOf)
{
    for (mode_t mode : { 0700, 01777 }) {
        ASSERT_EQ(chmod(dir.c_str(), mode), 0);
        std::string command = "exec " + std::string(VPRINTER_PROGRAM) + " serve " + endpoint
            + " --no-console --quiet --http 127.0.0.1:0 2>&1";
        std::string lines;
        run({ "/bin/sh", "-c", command }, &lines, &server, mode == 0700 ? 2 : 3);
        EXPECT_NE(lines.find("listening on " + endpoint + "\n"), std::string::npos) << lines;
        EXPECT_NE(lines.find("page at http://127.0.0.1:"), std::string::npos) << lines;
        EXPECT_EQ(lines.find("127.0.0.1:0/"), std::string::npos) << "the page's address is one it holds: " << lines;
        EXPECT_EQ(lines.find("other users can write to " + dir) != std::string::npos, mode != 0700) << lines;
        stop();
    }
    chmod(dir.c_str(), 0700);
}

// A printer whose page cannot be served does not start without it.
TEST_F(PrinterTest, FrontPageNeedsAnAddressItCanHave)
{
    std::string out;
    EXPECT_EQ(run({ VPRINTER_PROGRAM, "serve", endpoint, "--no-console", "--http", "8631" }, &out), 2);
    EXPECT_EQ(run({ VPRINTER_PROGRAM, "serve", endpoint, "--no-console", "--http", "127.0.0.1:99999" }, &out), 2);
    int taken = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ASSERT_EQ(bind(taken, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(taken, 1), 0);
    ASSERT_EQ(getsockname(taken, reinterpret_cast<sockaddr*>(&address), &size), 0);
    std::string busy = "127.0.0.1:" + std::to_string(ntohs(address.sin_port));
    EXPECT_EQ(run({ VPRINTER_PROGRAM, "serve", endpoint, "--no-console", "--http", busy }, &out), 2);
    close(taken);
    // Half a port is no port: with IPv6's loopback taken, neither a name for
    // both families nor IPv4's own address leaves it to its holder.
    int half = haveIpv6Loopback() ? listenOnLoopback(AF_INET6, 0) : -1;
    for (const char* host : { "localhost:", "127.0.0.1:" }) {
        if (half < 0) break;
        std::string where = host + std::to_string(localPort(half));
        EXPECT_EQ(start(endpoint, { "--http", where }, 2).find("page at"), std::string::npos) << where;
        stop();
        EXPECT_EQ(serverStatus, 2) << where;
    }
    if (half >= 0) close(half);
    struct stat info;
    EXPECT_NE(stat(endpoint.c_str(), &info), 0) << "its socket goes with it";
}

TEST_F(PrinterTest, TwoPrintersNeverShareAPagePort)
{
    startWithPage();
    std::string out;
    std::string taken = "127.0.0.1:" + std::to_string(page);
    EXPECT_EQ(run({ VPRINTER_PROGRAM, "serve", dir + "/second.sock", "--no-console", "--http", taken }, &out), 2);
    EXPECT_EQ(ask("GET /state"), 200) << "the first printer still serves its page";
}

// Another site (a name of its own pointed at 127.0.0.1) or another local user
// can neither read nor change the printer through its page.
TEST_F(PrinterTest, ThePageAnswersOnlyAtItsOwnAddressWithItsSecret)
{
    startWithPage();
    std::string port = std::to_string(page);
    std::string here = "Host: 127.0.0.1:" + port + "\r\n";
    EXPECT_EQ(http("GET /?token=" + token + " HTTP/1.1\r\n" + here + "\r\n"), 200);
    EXPECT_EQ(ask("GET /state", "Host: localhost:" + port + "\r\n"), 200);
    std::string wrong = token;
    wrong[0] = wrong[0] == 'a' ? 'b' : 'a';
    EXPECT_EQ(http("GET /?token=" + wrong + " HTTP/1.1\r\n" + here + "\r\n"), 403);
    EXPECT_EQ(http("GET /state HTTP/1.1\r\n" + here + "\r\n"), 403);
    EXPECT_EQ(http("POST /set HTTP/1.1\r\n" + here + "Content-Length: 9\r\n\r\npaper=out"), 403);
    for (const std::string& host :
        std::vector<std::string> { "127.attacker.example:" + port, "localhost.attacker.example:" + port,
            "127.0.0.1:" + port + ".attacker.example", "127.0.0.1:1", "127.0.0.1" }) {
        EXPECT_EQ(ask("POST /set", "Host: " + host + "\r\n", "paper=out"), 403) << host;
    }
    EXPECT_EQ(ask("POST /set", "Origin: http://127.attacker.example:" + port + "\r\n", "paper=out"), 403);
    std::map<std::string, std::string> state;
    std::string error;
    ASSERT_TRUE(vprinterGet(endpoint, &state, &error)) << error;
    EXPECT_EQ(state["paper"], "in") << "changed by a request the page refused";
    EXPECT_EQ(ask("POST /set", "Origin: http://127.0.0.1:" + port + "\r\n", "paper=out"), 200);
    ASSERT_TRUE(vprinterGet(endpoint, &state, &error)) << error;
    EXPECT_EQ(state["paper"], "out");
}

// Another local user could listen on the loopback family the page left free
// and take a browser's request, secret and all.
TEST_F(PrinterTest, ThePageHoldsBothLoopbackFamiliesOfItsPort)
{
    if (!haveIpv6Loopback()) GTEST_SKIP() << "this machine has no IPv6 loopback";
    for (std::string address : { "localhost:0", "127.0.0.1:0" }) {
        startWithPage(address);
        std::string host = "Host: " + address.substr(0, address.rfind(':')) + ":" + std::to_string(page) + "\r\n";
        for (int family : { AF_INET, AF_INET6 }) {
            std::string request = "GET /state HTTP/1.1\r\n" + host + "X-Vprinter-Token: " + token + "\r\n\r\n";
            EXPECT_EQ(http(request, nullptr, nullptr, family), 200) << address << " family " << family;
            int squatter = listenOnLoopback(family, page);
            EXPECT_LT(squatter, 0) << address << " left family " << family << " of its port free";
            if (squatter >= 0) close(squatter);
        }
        stop();
    }
}

// Framed by another site at its address, secret and all, the page would
// change the printer at a click meant for that site.
TEST_F(PrinterTest, EveryAnswerForbidsFraming)
{
    startWithPage();
    std::string host = "Host: 127.0.0.1:" + std::to_string(page) + "\r\n";
    std::string secret = "X-Vprinter-Token: " + token + "\r\n";
    const std::pair<int, std::string> answers[] = {
        { 200, "GET /?token=" + token + " HTTP/1.1\r\n" + host + "\r\n" },
        { 403, "GET / HTTP/1.1\r\n" + host + "\r\n" },
        { 404, "GET /nothing HTTP/1.1\r\n" + host + secret + "\r\n" },
        { 413, "POST /set HTTP/1.1\r\n" + host + secret + "Content-Length: 99999\r\n\r\n" },
        // Counts the server library would answer with its own head, twice.
        { 400, "POST /set HTTP/1.1\r\n" + host + secret + "Content-Length: -1\r\n\r\n" },
        { 400, "POST /set HTTP/1.1\r\n" + host + secret + "Content-Length: +13\r\n\r\npaper=out" },
        { 413, "POST /set HTTP/1.1\r\n" + host + secret + "Content-Length: 99999999999999999999999\r\n\r\n" },
        { 505, "GET / HTTP/9.9\r\n" + host + "\r\n" },
    };
    for (const auto& [status, request] : answers) {
        std::string head;
        std::string body;
        EXPECT_EQ(http(request, &body, &head), status) << request;
        EXPECT_EQ(body.find("HTTP/1."), std::string::npos) << "a second answer in the body: " << body;
        EXPECT_NE(head.find("\r\nX-Frame-Options: DENY\r\n"), std::string::npos) << head;
        EXPECT_NE(head.find("\r\nContent-Security-Policy: frame-ancestors 'none'\r\n"), std::string::npos) << head;
    }
}

// Clients without the secret that send a head and then trickle a body hold
// no place of the browser's: each is refused as its head is in.
TEST_F(PrinterTest, ClientsWithoutTheSecretAreRefusedAtTheirHeadAndLockNobodyOut)
{
    startWithPage();
    std::string head
        = "POST /set HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(page) + "\r\nContent-Length: 4000\r\n\r\n";
    std::vector<int> intruders;
    for (int i = 0; i < 130; ++i) {
        intruders.push_back(connectPage());
        send(intruders.back(), head.data(), head.size(), MSG_NOSIGNAL);
    }
    for (int round = 0; round < 20; ++round) {
        for (int fd : intruders) send(fd, "x", 1, MSG_NOSIGNAL);
        EXPECT_EQ(ask("GET /state"), 200) << "round " << round;
    }
    for (int fd : intruders) {
        pollfd p = { fd, POLLIN, 0 };
        char answer[16] = "";
        EXPECT_TRUE(
            poll(&p, 1, 2000) == 1 && recv(fd, answer, 12, 0) == 12 && strncmp(answer, "HTTP/1.1 403", 12) == 0);
        close(fd);
    }
}

long residentKiB(pid_t pid)
{
    FILE* file = fopen(("/proc/" + std::to_string(pid) + "/status").c_str(), "r");
    long kib = -1;
    char line[256];
    while (file && fgets(line, sizeof line, file)) sscanf(line, "VmRSS: %ld", &kib);
    if (file) fclose(file);
    return kib;
}

// Clients that flood the page with headers, trickle them or say nothing hold
// neither its memory nor its workers, and a stop does not wait for them.
TEST_F(PrinterTest, ThePageOutlastsFloodsAndSlowClientsAndStopsAtOnce)
{
    startWithPage();
    std::string lines;
    for (int i = 0; i < 100; ++i) lines += "X-Line: " + std::to_string(i) + "\r\n";
    EXPECT_EQ(ask("GET /state", lines), 431);
    EXPECT_EQ(ask("GET /state", "X-Long: " + std::string(20000, 'a') + "\r\n"), 431);
    long before = residentKiB(server);
    for (int flood = 0; flood < 4; ++flood) {
        int fd = connectPage();
        std::string head = "GET /state HTTP/1.1\r\n";
        send(fd, head.data(), head.size(), MSG_NOSIGNAL);
        std::string many(8 << 20, 'x');
        for (size_t at = 0; at + 8 <= many.size(); at += 8) memcpy(&many[at], "X-A: b\r\n", 8);
        send(fd, many.data(), many.size(), MSG_NOSIGNAL);
        close(fd);
    }
    EXPECT_LT(residentKiB(server) - before, 16 * 1024) << "kilobytes grown by four floods of 1 M headers";

    rlimit files;
    getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
    size_t idleCount = std::min<rlim_t>(1000, files.rlim_cur > 100 ? files.rlim_cur - 100 : 0);
    std::vector<int> slow;
    for (size_t i = 0; i < 4 + idleCount; ++i) slow.push_back(connectPage());
    for (int i = 0; i < 4; ++i) send(slow[i], "GET /state HTTP/1.1\r\n", 21, MSG_NOSIGNAL);
    for (int round = 0; round < 12; ++round) {
        for (int i = 0; i < 4; ++i) send(slow[i], "X-Slow: 1\r\n", 11, MSG_NOSIGNAL);
        auto asked = std::chrono::steady_clock::now();
        EXPECT_EQ(ask("GET /state"), 200) << "round " << round;
        EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(1)) << "round " << round;
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    auto stopped = std::chrono::steady_clock::now();
    stop();
    EXPECT_LT(std::chrono::steady_clock::now() - stopped, std::chrono::seconds(1));
    EXPECT_EQ(serverStatus, 0);
    for (int fd : slow) close(fd);
}

// However a job is made, its view on the page costs less than the job.
TEST_F(PrinterTest, AHostileJobsViewOnThePageStaysSmall)
{
    startWithPage();
    std::string alternating(1 << 20, 'A');
    for (size_t i = 1; i < alternating.size(); i += 2) alternating[i] = 0x01;
    const std::string jobs[] = { alternating, std::string(1 << 20, '\x0C') };
    for (const std::string& job : jobs) {
        PortHandle port = OpenPortA(endpoint.c_str(), "", LIMIT);
        ASSERT_NE(port, nullptr);
        for (size_t at = 0; at < job.size();) {
            uint32_t written = 0;
            ASSERT_NE(WritePort(port, job.data() + at, static_cast<uint32_t>(job.size() - at), &written), VX_FALSE);
            at += written;
        }
        ClosePort(port);
    }
    for (int number = 1; number <= 2; ++number) {
        std::string view;
        auto asked = std::chrono::steady_clock::now();
        ASSERT_EQ(ask("GET /job/" + std::to_string(number), "", "", &view), 200);
        EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(2)) << "job " << number;
        EXPECT_LT(view.size(), jobs[number - 1].size() / 4) << "job " << number;
    }
    // Asked for the same bytes many times over, the page answers them once.
    std::string ranges = "Range: bytes=0-";
    for (int i = 0; i < 500; ++i) ranges += ",0-";
    std::string view;
    std::string many;
    ASSERT_EQ(ask("GET /job/1", "", "", &view), 200);
    EXPECT_EQ(ask("GET /job/1", ranges + "\r\n", "", &many), 200);
    EXPECT_EQ(many.size(), view.size());
    std::string refusal = "GET / HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(page) + "\r\n" + ranges + "\r\n\r\n";
    EXPECT_EQ(http(refusal, &many), 403);
    EXPECT_LT(many.size(), 1024u);
}

// Out of descriptors, a server that keeps trying to accept spins: here on
// IPv6's loopback, which has no connection of its own to wait for while
// IPv4's fill the process. The page neither spins nor locks the next client
// out, and serves on once descriptors come back.
TEST_F(PrinterTest, ThePageOutOfDescriptorsWaitsWithoutSpinningAndServesOn)
{
    startWithPage("localhost:0", { "/bin/sh", "-c", "ulimit -n 64 && exec \"$0\" \"$@\"" });
    std::vector<int> idle;
    for (int i = 0; i < 200; ++i) idle.push_back(connectPage());
    if (haveIpv6Loopback()) idle.push_back(connectPage(AF_INET6));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    long before = cpuTicks(server);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_LT(cpuTicks(server) - before, sysconf(_SC_CLK_TCK) / 10) << "clock ticks used in a second at the limit";
    auto asked = std::chrono::steady_clock::now();
    EXPECT_EQ(ask("GET /state", "Host: localhost:" + std::to_string(page) + "\r\n"), 200);
    EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(2)) << "a new client waited";
    for (int fd : idle) close(fd);
    EXPECT_EQ(ask("GET /state", "Host: localhost:" + std::to_string(page) + "\r\n"), 200);
}

TEST_F(PrinterTest, TcpOnAFreePort)
{
    std::string line = start("127.0.0.1:0");
    ASSERT_EQ(line.rfind("listening on 127.0.0.1:", 0), 0u) << line;
    std::string tcp = line.substr(strlen("listening on "));
    ASSERT_NE(tcp, "127.0.0.1:0");
    PortHandle port = OpenPortA(tcp.c_str(), "", LIMIT);
    ASSERT_NE(port, nullptr);
    errno = 0;
    std::string other = "localhost:" + tcp.substr(tcp.find(':') + 1);
    EXPECT_EQ(OpenPortA(other.c_str(), "", LIMIT), nullptr);
    EXPECT_EQ(errno, EBUSY);
    uint32_t written = 0;
    EXPECT_NE(WritePort(port, "abc", 3, &written), VX_FALSE);
    EXPECT_EQ(written, 3u);
    ClosePort(port);
}

TEST_F(PrinterTest, BadSettingsHandlesAndPointersFailCleanly)
{
    startHere();
    errno = 0;
    EXPECT_EQ(OpenPortA(endpoint.c_str(), "speed=fast", LIMIT), nullptr);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(OpenPortA(endpoint.c_str(), "fault=chunk", LIMIT), nullptr);
    EXPECT_EQ(OpenPortA(endpoint.c_str(), "timeout=soon", LIMIT), nullptr);
    for (const char* meaningless :
        { "fault=chunk:0", "fault=refuse-open:0", "timeout=100,timeout=200", "fault=chunk:3,fault=chunk:4" }) {
        errno = 0;
        EXPECT_EQ(OpenPortA(endpoint.c_str(), meaningless, LIMIT), nullptr) << meaningless;
        EXPECT_EQ(errno, EINVAL) << meaningless;
    }
    EXPECT_EQ(OpenPortA(nullptr, "", LIMIT), nullptr);

    PortHandle port = OpenPortA(endpoint.c_str(), ",timeout=2000,,fault=chunk:3", LIMIT);
    ASSERT_NE(port, nullptr);
    uint32_t written = 0;
    EXPECT_NE(WritePort(port, "abcdef", 6, &written), VX_FALSE);
    EXPECT_EQ(written, 3u);
    unsigned char record[VX_STATUS_LEVEL1_SIZE];
    EXPECT_EQ(WritePort(port, "abc", 3, nullptr), VX_FALSE);
    EXPECT_EQ(ReadPort(port, nullptr, 100, &written), VX_FALSE);
    EXPECT_EQ(GetOnlineStatus(port, nullptr), VX_FALSE);
    EXPECT_EQ(GetParsedStatusEx(port, nullptr, 1), VX_FALSE);
    EXPECT_EQ(GetParsedStatusEx(port, record, 2), VX_FALSE) << "no record size is known for level 2";
    EXPECT_EQ(BeginCheckedBlockEx(port, nullptr, 1), VX_FALSE);
    ASSERT_NE(ClosePort(port), VX_FALSE);

    EXPECT_EQ(ClosePort(port), VX_FALSE) << "closed twice";
    EXPECT_EQ(GetParsedStatusEx(port, record, 1), VX_FALSE) << "stale handle";
    EXPECT_EQ(ResetDevice(reinterpret_cast<PortHandle>(0x1)), VX_FALSE) << "never a handle";
    EXPECT_EQ(WritePort(nullptr, "a", 1, &written), VX_FALSE);
}

// The library's own faults, for tests of how the suite copes: each must show.
TEST_F(PrinterTest, LibraryFaultsMisbehaveAsNamed)
{
    startHere();
    const char* name = endpoint.c_str();
    uint32_t written = 0;
    VX_BOOL online = 0;
    unsigned char record[VX_STATUS_LEVEL1_SIZE];

    PortHandle port = OpenPortA(name, "fault=count-over,fault=online-flag-2,fault=paper-offset", LIMIT);
    ASSERT_NE(port, nullptr);
    EXPECT_NE(WritePort(port, "abc", 3, &written), VX_FALSE);
    EXPECT_EQ(written, 4u);
    EXPECT_NE(GetOnlineStatus(port, &online), VX_FALSE);
    EXPECT_EQ(online, 2);
    set({ "paper=out" });
    EXPECT_NE(GetParsedStatusEx(port, record, 1), VX_FALSE);
    EXPECT_EQ(statusWord(record, VX_OFFSET_PAPER_EMPTY_LEVEL1), 0);
    EXPECT_EQ(statusWord(record, VX_OFFSET_PAPER_EMPTY_OLD), 1);
    set({ "paper=in", "online=yes" });
    ClosePort(port);

    port = OpenPortA(name, "fault=no-exclusive", LIMIT);
    PortHandle second = OpenPortA(name, "fault=no-exclusive", LIMIT);
    EXPECT_NE(second, nullptr);
    ClosePort(second);
    ClosePort(port);

    port = OpenPortA(name, "fault=no-reconnect", LIMIT);
    set({ "connected=no" });
    set({ "connected=yes" });
    EXPECT_EQ(GetOnlineStatus(port, &online), VX_FALSE);
    EXPECT_EQ(GetOnlineStatus(port, &online), VX_FALSE) << "still, after the printer is back";
    ClosePort(port);

    port = OpenPortA(name, "fault=stall-status:300", LIMIT);
    auto started = std::chrono::steady_clock::now();
    EXPECT_NE(GetParsedStatusEx(port, record, 1), VX_FALSE);
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(300));
    ClosePort(port);

    port = OpenPortA(name, "fault=keep-lock", LIMIT);
    ClosePort(port);
    errno = 0;
    EXPECT_EQ(OpenPortA(name, "", LIMIT), nullptr);
    EXPECT_EQ(errno, EBUSY);
}

TEST_F(PrinterTest, RefuseOpenRefusesExactlyTheNthOpen)
{
    startHere();
    for (int i = 1; i <= 4; ++i) {
        PortHandle port = OpenPortA(endpoint.c_str(), "fault=refuse-open:3", LIMIT);
        EXPECT_EQ(port == nullptr, i == 3) << "open " << i;
        if (port) ClosePort(port);
    }
}

TEST_F(PrinterTest, AHungOrDeadPrinterFailsCallsInsteadOfHangingThem)
{
    startHere();
    PortHandle port = OpenPortA(endpoint.c_str(), "timeout=300", LIMIT);
    ASSERT_NE(port, nullptr);
    unsigned char record[VX_STATUS_LEVEL1_SIZE];
    kill(server, SIGSTOP);
    EXPECT_EQ(GetParsedStatusEx(port, record, 1), VX_FALSE);
    kill(server, SIGCONT);
    EXPECT_NE(GetParsedStatusEx(port, record, 1), VX_FALSE) << "a late answer is not taken for the next one";

    stop();
    VX_BOOL online = 1;
    uint32_t written = 1;
    EXPECT_EQ(GetOnlineStatus(port, &online), VX_FALSE);
    EXPECT_TRUE(WritePort(port, "x", 1, &written) == VX_FALSE || written == 0);
    EXPECT_NE(ClosePort(port), VX_FALSE);
}

// Calls that fill a stopped printer's queue, until one is no longer taken;
// the caller closes them.
std::vector<wire::Socket> fillQueue(const std::string& name)
{
    wire::Endpoint where;
    std::string error;
    std::vector<wire::Socket> held;
    if (!wire::parseEndpoint(name, &where, &error)) return held;
    for (int i = 0; i < 1000; ++i) {
        wire::Socket fd = wire::connectEndpoint(where, wire::monotonicMs() + 200, &error);
        if (fd == wire::NO_SOCKET) break;
        held.push_back(fd);
    }
    return held;
}

uint64_t msSince(uint64_t start) { return wire::monotonicMs() - start; }

// A printer stopped with its queue full takes no call at all: the library
// keeps its time limit, and the control commands and a second printer on
// its path give up with a reason, on a socket file and on TCP.
TEST_F(PrinterTest, AStoppedPrinterThatTakesNoCallCostsOnlyTheTimeLimit)
{
    for (const std::string& where : { endpoint, std::string("127.0.0.1:0") }) {
        std::string name = start(where).substr(strlen("listening on "));
        kill(server, SIGSTOP);
        std::shared_ptr<void> resume(nullptr, [this](void*) { kill(server, SIGCONT); });
        std::vector<wire::Socket> held = fillQueue(name);
        EXPECT_GE(held.size(), 1u) << name;

        uint64_t started = wire::monotonicMs();
        errno = 0;
        EXPECT_EQ(OpenPortA(name.c_str(), "", 1000), nullptr) << name;
        EXPECT_EQ(errno, ETIMEDOUT) << name;
        EXPECT_LT(msSince(started), 3000u) << name;

        started = wire::monotonicMs();
        std::string error;
        if (where == endpoint) {
            std::string out;
            EXPECT_EQ(run({ VPRINTER_PROGRAM, "get", name }, &out), 2);
            EXPECT_LT(msSince(started), 8000u);
            started = wire::monotonicMs();
            EXPECT_EQ(run({ VPRINTER_PROGRAM, "serve", name, "--no-console" }, &out), 2);
            EXPECT_LT(msSince(started), 5000u);
            struct stat info;
            EXPECT_EQ(stat(name.c_str(), &info), 0) << "a stopped printer keeps its socket";
        } else {
            EXPECT_FALSE(vprinterSet(name, { "cover=open" }, &error));
            EXPECT_NE(error.find("is it stopped?"), std::string::npos) << error;
            EXPECT_LT(msSince(started), 8000u);
        }

        resume.reset();
        for (wire::Socket fd : held) wire::closeSocket(fd);
        std::map<std::string, std::string> state;
        EXPECT_TRUE(vprinterGet(name, &state, &error)) << error;
        stop();
    }
}

// The server as a small daemon: whatever one client, or whoever starts it,
// does, it keeps serving the others and claims only what it made.

TEST_F(PrinterTest, RequestsSentInOneWriteAreAnsweredAtOnce)
{
    startHere();
    int fd = connectTo(endpoint);
    ASSERT_GE(fd, 0);
    std::string both = frameBytes(wire::OP_HELLO, 1, { wire::ROLE_CONTROL }) + frameBytes(wire::OP_GET, 2);
    ASSERT_EQ(send(fd, both.data(), both.size(), MSG_NOSIGNAL), static_cast<ssize_t>(both.size()));
    EXPECT_EQ(replySeq(fd, 10000), 1);
    EXPECT_EQ(replySeq(fd, 10000), 2);
    close(fd);
}

TEST_F(PrinterTest, AClientThatResetsWhileItsEndWaitsCostsNoProcessorTime)
{
    std::string line = start("127.0.0.1:0", { "--print-ms", "60000" });
    ASSERT_EQ(line.rfind("listening on 127.0.0.1:", 0), 0u) << line;
    std::string tcp = line.substr(strlen("listening on "));
    wire::Endpoint where;
    std::string error;
    ASSERT_TRUE(wire::parseEndpoint(tcp, &where, &error));
    wire::Socket fd = wire::connectEndpoint(where, wire::monotonicMs() + 5000, &error);
    ASSERT_NE(fd, wire::NO_SOCKET) << error;
    // A job, its End and two megabytes of further requests pile up while the
    // printer is stopped, so it reads them as fast as it can.
    std::string status = frameBytes(wire::OP_STATUS, 5, u32s({ wire::LAYOUT_L1 }));
    std::string bytes = frameBytes(wire::OP_HELLO, 1, { wire::ROLE_PORT })
        + frameBytes(wire::OP_BEGIN_BLOCK, 2, u32s({ wire::LAYOUT_L1 })) + frameBytes(wire::OP_WRITE, 3, { 'j' });
    for (int i = 0; i < 30; ++i) bytes += status;
    bytes += frameBytes(wire::OP_END_BLOCK, 4, u32s({ wire::LAYOUT_L1, 60000 }));
    for (int i = 0; i < 100000; ++i) bytes += status;
    kill(server, SIGSTOP);
    wire::IoResult sent
        = wire::sendAll(fd, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), wire::monotonicMs() + 5000);
    kill(server, SIGCONT);
    EXPECT_EQ(sent, wire::IoResult::Done);
    std::map<std::string, std::string> state;
    for (int i = 0; i < 100; ++i) vprinterGet(tcp, &state, &error);
    linger reset = { 1, 0 };
    setsockopt(static_cast<int>(fd), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    wire::closeSocket(fd);

    long before = cpuTicks(server);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    long used = cpuTicks(server) - before;
    EXPECT_LT(used, sysconf(_SC_CLK_TCK) / 5) << "the printer spins";
    EXPECT_TRUE(vprinterGet(tcp, &state, &error)) << error;
}

TEST_F(PrinterTest, AStoppingPrinterLeavesASocketThatIsNoLongerItsOwn)
{
    startHere();
    ASSERT_EQ(unlink(endpoint.c_str()), 0);
    pid_t second = -1;
    std::string line;
    run({ VPRINTER_PROGRAM, "serve", endpoint, "--no-console", "--quiet" }, &line, &second);
    ASSERT_EQ(line, "listening on " + endpoint);
    stop();
    std::map<std::string, std::string> state;
    std::string error;
    EXPECT_TRUE(vprinterGet(endpoint, &state, &error)) << "the second printer lost its socket: " << error;
    kill(second, SIGTERM);
    EXPECT_EQ(waitFor(second), 0);
}

TEST_F(PrinterTest, ServesWithStandardInputAndOutputClosed)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addclose(&actions, STDIN_FILENO);
    posix_spawn_file_actions_addclose(&actions, STDOUT_FILENO);
    const char* argv[] = { VPRINTER_PROGRAM, "serve", endpoint.c_str(), "--quiet", nullptr };
    ASSERT_EQ(posix_spawn(&server, argv[0], &actions, nullptr, const_cast<char* const*>(argv), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    std::map<std::string, std::string> state;
    std::string error;
    bool answered = false;
    for (int i = 0; i < 200 && !answered; ++i) {
        answered = vprinterGet(endpoint, &state, &error);
        if (!answered) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_TRUE(answered) << error;
    int status;
    EXPECT_EQ(waitpid(server, &status, WNOHANG), 0) << "still serving";
    stop();
    EXPECT_EQ(serverStatus, 0);
}

// Started as a script does (`vprinter serve PATH &`, its input /dev/null,
// its output a pipe nobody reads), the printer serves on, and any stop signal
// ends it cleanly.
TEST_F(PrinterTest, AScriptsPrinterServesWithoutInputOrReaderAndStopsOnAnySignal)
{
    for (int signal : { SIGHUP, SIGUSR1 }) {
        int out[2];
        ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        const char* argv[] = { VPRINTER_PROGRAM, "serve", endpoint.c_str(), nullptr };
        ASSERT_EQ(posix_spawn(&server, argv[0], &actions, nullptr, const_cast<char* const*>(argv), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        std::map<std::string, std::string> state;
        std::string error;
        for (int i = 0; i < 200 && !vprinterGet(endpoint, &state, &error); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        // Each change prints a panel line: far more than the pipe holds.
        for (int i = 0; i < 1500; ++i) {
            ASSERT_TRUE(vprinterSet(endpoint, { i % 2 ? "cover=closed" : "cover=open" }, &error)) << i << ": " << error;
        }
        std::string text;
        char buffer[65536];
        pollfd p = { out[0], POLLIN, 0 };
        ssize_t got;
        while (text.find("dropped") == std::string::npos && poll(&p, 1, 5000) == 1
            && (got = read(out[0], buffer, sizeof buffer)) > 0) {
            text.append(buffer, got);
        }
        EXPECT_NE(text.find("lines of output were dropped while nobody read it"), std::string::npos);
        kill(server, signal);
        EXPECT_EQ(waitFor(server), 0) << strsignal(signal);
        server = -1;
        close(out[0]);
        struct stat info;
        EXPECT_NE(stat(endpoint.c_str(), &info), 0) << "its socket is left after " << strsignal(signal);
    }
}

TEST_F(PrinterTest, EveryNameOfAHeldPrinterIsHeld)
{
    startHere();
    std::string alias = dir + "/alias.sock";
    ASSERT_EQ(symlink(endpoint.c_str(), alias.c_str()), 0);
    PortHandle port = OpenPortA(endpoint.c_str(), "", LIMIT);
    ASSERT_NE(port, nullptr);
    errno = 0;
    EXPECT_EQ(OpenPortA(alias.c_str(), "", LIMIT), nullptr);
    EXPECT_EQ(errno, EBUSY);
    ClosePort(port);
    port = OpenPortA(alias.c_str(), "", LIMIT);
    EXPECT_NE(port, nullptr);
    ClosePort(port);
}

TEST_F(PrinterTest, IdleAndHalfSentClientsLockNobodyOutAndAFullPrinterSaysSo)
{
    startHere({ "--max-clients", "2" });
    std::vector<int> stalled;
    for (int i = 0; i < 200; ++i) {
        int fd = connectTo(endpoint);
        ASSERT_GE(fd, 0);
        if (i % 2 == 1) send(fd, "KPV1\x01", 5, MSG_NOSIGNAL);
        stalled.push_back(fd);
    }
    std::map<std::string, std::string> state;
    std::string error;
    EXPECT_TRUE(vprinterGet(endpoint, &state, &error)) << error;
    PortHandle port = OpenPortA(endpoint.c_str(), "", LIMIT);
    ASSERT_NE(port, nullptr);
    for (int fd : stalled) {
        EXPECT_TRUE(hungUpOn(fd)) << "a client that never finishes a frame is dropped";
        close(fd);
    }

    int control = connectTo(endpoint);
    std::string hello = frameBytes(wire::OP_HELLO, 1, { wire::ROLE_CONTROL });
    ASSERT_EQ(send(control, hello.data(), hello.size(), MSG_NOSIGNAL), static_cast<ssize_t>(hello.size()));
    ASSERT_EQ(replySeq(control, 10000), 1);
    EXPECT_FALSE(vprinterGet(endpoint, &state, &error));
    EXPECT_NE(error.find("at most 2 clients"), std::string::npos) << error;
    close(control);
    ClosePort(port);
    EXPECT_TRUE(vprinterGet(endpoint, &state, &error)) << error;
}

} // namespace
