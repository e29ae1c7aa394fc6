// holdprobe: proves that while this process holds a port, another process is
// refused it. The role comes from the argument count: three entries (program,
// port name, settings) hold the port and start a copy of this program; four
// entries (a trailing ".") are that copy, which tries the port and reports
// only through its exit status.
#pragma once

// Returns the exit status.
int holdprobeMain(int argc, const char* const* argv);
