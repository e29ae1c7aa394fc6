#include "platform/platform.h"
#include "probe/holdprobe.h"

int main(int argc, char** argv)
{
    platform::quietCrashes();
    // A refusal fails Test Port Locking with this line just above its own.
    if (!platform::libraryBesideProgram("holdprobe")) return 1;
    return holdprobeMain(argc, argv);
}
