// The few checks the program's Windows tests need; a failed check is printed and counted, and
// the test program then ends with exit code 1.
#pragma once
#include <cstdio>
#include <cstring>

namespace Check {
extern int failures;
void fail(const char* file, int line, const char* what);
}  // namespace Check

#define CHECK(condition) \
  ((condition) ? (void)0 : Check::fail(__FILE__, __LINE__, #condition))
#define CHECK_TEXT(actual, expected)                                               \
  (std::strcmp((actual), (expected)) == 0                                          \
       ? (void)0                                                                   \
       : (std::printf("  got \"%s\", wanted \"%s\"\n", (actual), (expected)), \
          Check::fail(__FILE__, __LINE__, #actual)))

// The test groups, each run as a test case of its own by name.
void settingsFileTests();
void dialogTextTests();
void windowTests();
void startUpTests();
void dialogTests();
