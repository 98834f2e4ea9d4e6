// fatal: the one way the program stops on a runtime failure.
//
// loop_fatal writes a message (by convention beginning "Fatal error: " and
// ending in a newline) to the standard error stream and exits with status 1
// at once; nothing is cleaned up, the registered exit handlers still run.
// loop_warn writes a "Warning: ..." line and returns.
//
// Programming errors are not reported here: they are assertions.
#pragma once

// Print the formatted message to stderr and exit(1).
[[noreturn]] void loop_fatal(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
// Print the formatted message to stderr and go on.
void loop_warn(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
