#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

#include "operator/run/virtual_printer.h"
#include "wire/endpoint.h"
#include "wire/portlock.h"

namespace {

using namespace vpop;

// The library's lock of the printer's port is the run's to remove, with the
// printer's socket and its folder.
TEST(VirtualPrinter, LeavesNothingBehind)
{
    RunOptions options;
    options.dir = VPOP_BUILD_DIR;
    std::string lock;
    std::string socket;
    {
        VirtualPrinter printer(options);
        std::string error;
        ASSERT_TRUE(printer.start(&error)) << error;
        socket = printer.endpoint();
        wire::Endpoint endpoint;
        ASSERT_TRUE(wire::parseEndpoint(socket, &endpoint, &error)) << error;
        lock = wire::portLockPlace(wire::lockName(endpoint));
        std::ofstream(lock) << "held\n";
        EXPECT_FALSE(printer.set({ "cover=ajar" }, &error));
    }
    EXPECT_NE(access(lock.c_str(), F_OK), 0) << lock;
    EXPECT_NE(access(socket.c_str(), F_OK), 0) << socket;
}

// A printer that ends before it listens is no printer to run against.
TEST(VirtualPrinter, ThatEndsAtOnceIsNotStarted)
{
    RunOptions options;
    options.dir = VPOP_BUILD_DIR;
    options.printerOptions = { "--no-such-option" };
    VirtualPrinter printer(options);
    std::string error;
    EXPECT_FALSE(printer.start(&error));
    EXPECT_NE(error.find("ended before listening"), std::string::npos) << error;
}

} // namespace
