#pragma once

// The desktop tests start copies of their own executable as "other processes" (a second start of
// the program, a holder that gets killed). Such a copy gets this first argument and runs
// RunTestChild instead of the tests.
constexpr const char* kTestChildFlag = "--desktop-test-child";

int RunTestChild(int argc, char** argv);
