// The checks of the test programs without a test framework: those that run under Wine, where
// each failed check prints its line and values and the program's exit code counts the
// failures, and the fuzz targets, where a broken rule names itself and aborts, so that
// libFuzzer keeps the input as a crash reproducer.
#pragma once
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace Check {

inline int failures = 0;

inline std::string describe(const std::string& text) { return "\"" + text + "\""; }
inline std::string describe(const char* text) { return describe(std::string(text)); }
inline std::string describe(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += "\n    " + describe(line);
  return text;
}
template <class Number>
std::string describe(Number number) {
  return std::to_string(number);
}

inline bool check(bool passed, const char* text, const char* file, int line) {
  if (!passed) std::printf("%s:%d: failed: %s\n", file, line, text), ++failures;
  return passed;
}

template <class A, class B>
bool checkEqual(const A& actual, const B& expected, const char* text, const char* file, int line) {
  if (actual == expected) return true;
  std::printf("%s:%d: failed: %s\n  actual:   %s\n  expected: %s\n", file, line, text,
              describe(actual).c_str(), describe(expected).c_str());
  ++failures;
  return false;
}

inline void require(bool holds, const char* rule, const char* file, int line) {
  if (!check(holds, rule, file, line)) std::fflush(stdout), std::abort();
}

}  // namespace Check

#define CHECK(condition) Check::check((condition), #condition, __FILE__, __LINE__)
#define CHECK_EQ(actual, expected) \
  Check::checkEqual((actual), (expected), #actual " == " #expected, __FILE__, __LINE__)
// Texts compare as strings, whatever pointer type holds them.
#define CHECK_TEXT(actual, expected) CHECK_EQ(std::string(actual), std::string(expected))
// A rule that must hold whatever the input; the program aborts when it does not.
#define REQUIRE(condition, rule) Check::require((condition), rule, __FILE__, __LINE__)
