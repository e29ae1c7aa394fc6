#include "probe/holdprobe.h"

int main(int argc, char** argv) { return holdprobeMain(argc, argv); }
