#include "command_line.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

const char* const kUsage =
    "usage: kestravu-stream decode STREAM OUTDIR [--wide] [--screen4] [--from N] [--to M] | "
    "info STREAM | encode -o STREAM [--key-every N] IMAGE.png... | pattern -o STREAM [--frames N] | "
    "video STREAM OUT.mkv|OUT.mp4 [--wide] [--screen4] [--fps N] [--from N] [--to M]";

int fail(const char* format, ...) {
  std::fputs("kestravu-stream: ", stderr);
  va_list arguments;
  va_start(arguments, format);
  std::vfprintf(stderr, format, arguments);
  va_end(arguments);
  std::fputc('\n', stderr);
  return kBadInput;
}

namespace {

bool parseCount(const char* text, long maximum, long& value) {
  char* end = nullptr;
  errno = 0;
  value = std::strtol(text, &end, 10);
  return errno == 0 && end != text && *end == '\0' && value >= 1 && value <= maximum;
}

// Whether `argument` is, whole, one of the space-separated words of `allowed`. A search for it
// in the list would let one argument "--wide --screen4" pass as both.
bool isAllowed(const char* argument, const char* allowed) {
  const size_t length = std::strlen(argument);
  for (const char* word = allowed; *word != '\0';) {
    const size_t wordLength = std::strcspn(word, " ");
    if (wordLength == length && std::strncmp(word, argument, length) == 0) return true;
    word += wordLength + (word[wordLength] == ' ' ? 1 : 0);
  }
  return false;
}

bool takesValue(const char* option) {
  return !std::strcmp(option, "-o") || !std::strcmp(option, "--key-every") ||
         !std::strcmp(option, "--frames") || !std::strcmp(option, "--fps") ||
         !std::strcmp(option, "--from") || !std::strcmp(option, "--to");
}

}  // namespace

int parseOptions(int argc, char** argv, const char* allowed, Options& options) {
  for (int i = 0; i < argc; ++i) {
    const char* argument = argv[i];
    if (argument[0] != '-' || argument[1] == '\0') {
      options.operands.push_back(argument);
      continue;
    }
    if (!isAllowed(argument, allowed)) return fail("unknown option '%s' (%s)", argument, kUsage);
    if (takesValue(argument) && i + 1 == argc) return fail("option '%s' needs a value", argument);
    if (!std::strcmp(argument, "-o")) {
      options.output = argv[++i];
    } else if (!std::strcmp(argument, "--from") || !std::strcmp(argument, "--to")) {
      int64_t& number = !std::strcmp(argument, "--from") ? options.range.first : options.range.last;
      if (!parseFrameNumber(argv[++i], number))
        return fail("option '%s' needs a frame number from 0, not '%s'", argument, argv[i]);
      options.range.given = true;
    } else if (!std::strcmp(argument, "--fps")) {
      if (!parseCount(argv[++i], 1000, options.framesPerSecond))
        return fail("option '%s' needs a whole number from 1 to 1000, not '%s'", argument, argv[i]);
    } else if (!std::strcmp(argument, "--key-every") || !std::strcmp(argument, "--frames")) {
      long& target = !std::strcmp(argument, "--frames") ? options.frames : options.keyEvery;
      if (!parseCount(argv[++i], 10000000, target))
        return fail("option '%s' needs a whole number from 1 to 10000000, not '%s'", argument, argv[i]);
    } else if (!std::strcmp(argument, "--wide")) {
      options.wide = true;
    } else {
      options.screen4 = true;
    }
  }
  return 0;
}
