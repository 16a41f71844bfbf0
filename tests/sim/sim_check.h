// A few checks for the Windows test programs, which run under Wine without a test framework:
// each failed check prints its line and values, and the program's exit code counts them.
#pragma once
#include <cstdio>
#include <string>
#include <vector>

namespace SimCheck {

extern int failures;

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

inline bool check(bool passed, const char* text, int line) {
  if (!passed) std::printf("line %d: failed: %s\n", line, text), ++failures;
  return passed;
}

template <class A, class B>
bool checkEqual(const A& actual, const B& expected, const char* text, int line) {
  if (actual == expected) return true;
  std::printf("line %d: failed: %s\n  actual:   %s\n  expected: %s\n", line, text, describe(actual).c_str(),
              describe(expected).c_str());
  ++failures;
  return false;
}

}  // namespace SimCheck

#define CHECK(condition) SimCheck::check((condition), #condition, __LINE__)
#define CHECK_EQ(actual, expected) SimCheck::checkEqual((actual), (expected), #actual " == " #expected, __LINE__)
