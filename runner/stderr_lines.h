// What devbench itself writes on standard error, beside the library's own
// words. Standard output is the technician's dialogue and never changes;
// standard error says which library ran, where each test begins and ends,
// and what the library answered at each failure. A program that reads
// devbench through pipes (the automated operator) files the library's words
// under the test they came in by these lines, as the two streams reach it
// in no fixed order.
#pragma once

// Once, before the banner: the file that provides OpenPortA, as the loader
// mapped it, and where (so the mapping can be found in the process's map).
static const char STDERR_LIBRARY_LINE[] = "devbench: OpenPortA is in %s (loaded at %p)\n";
static const char STDERR_LIBRARY_UNKNOWN[] = "devbench: the file that provides OpenPortA cannot be told\n";

// Around each test a menu choice runs, when standard error is not a
// terminal (a person at a console would see only noise): the test's number
// in the program's own table. A library that wrote no newline leaves the
// marker at the end of its line, so a reader looks for it there.
static const char STDERR_TEST_BEGINS[] = "devbench: test %u begins\n";
static const char STDERR_TEST_ENDED[] = "devbench: test %u ended\n";

// After each failure line: "  answer(CHECK): " and what the library answered,
// CHECK being a short name of the check that stays the same from build to
// build, unlike the failure line's source line.
static const char STDERR_ANSWER_PREFIX[] = "  answer(";
