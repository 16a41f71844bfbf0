// Runs the kestravu-stream program as a user would (KESTRAVU_STREAM_TOOL is its path) and
// looks at what it left in a directory.
#pragma once
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "stream_test_support.h"

struct ToolRun {
  int status;
  std::string out, err;
};

inline std::string readText(const std::string& path) {
  std::ifstream file(path);
  return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

inline ToolRun runTool(const std::string& arguments) {
  ScratchDirectory logs;
  std::string command =
      std::string(KESTRAVU_STREAM_TOOL) + " " + arguments + " >" + (logs / "out") + " 2>" + (logs / "err");
  int raw = std::system(command.c_str());
  return ToolRun{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, readText(logs / "out"), readText(logs / "err")};
}

// "/frame-00012.png": decode's picture of a frame, as a path's tail.
inline std::string frameName(size_t frame) {
  char name[32];
  std::snprintf(name, sizeof name, "/frame-%05zu.png", frame);
  return name;
}

// Reads a FIFO while the program writes it. Its read end is held open from the start, so that
// release() can end the read even when the program never wrote there or renamed a file over it.
struct FifoReader {
  std::string path, bytes;
  int end = -1;
  std::thread thread;

  explicit FifoReader(const std::string& fifo) : path(fifo) {
    EXPECT_EQ(mkfifo(path.c_str(), 0600), 0);
    end = open(path.c_str(), O_RDONLY | O_NONBLOCK);
    EXPECT_GE(end, 0);
    thread = std::thread([this] { drain(); });
  }
  // A FIFO that never had a writer polls as nothing; one whose writers have all gone, as hung up.
  void drain() {
    pollfd ready{end, POLLIN, 0};
    char buffer[65536];
    while (poll(&ready, 1, -1) > 0) {
      const ssize_t got = read(end, buffer, sizeof buffer);
      if (got == 0) return;
      if (got > 0) bytes.append(buffer, static_cast<size_t>(got));
    }
  }
  const std::string& release() {
    const int writer = open(("/proc/self/fd/" + std::to_string(end)).c_str(), O_WRONLY | O_NONBLOCK);
    if (writer >= 0) close(writer);
    thread.join();
    close(end);
    return bytes;
  }
};

// Starts the program without waiting for it; its output goes nowhere. waitpid() ends it.
inline pid_t startTool(const std::vector<std::string>& arguments) {
  std::vector<char*> argv{const_cast<char*>(KESTRAVU_STREAM_TOOL)};
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t child = -1;
  EXPECT_EQ(posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  return child;
}

inline std::set<std::string> entries(const std::string& directory) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(directory))
    names.insert(entry.path().filename());
  return names;
}

// Bad input is refused alike by every command: exit status 2, nothing on stdout, one line on
// stderr, and `directory` left holding just the entries in `before`.
inline void expectRefused(const std::string& arguments, const std::string& directory,
                          const std::set<std::string>& before) {
  ToolRun run = runTool(arguments);
  EXPECT_EQ(run.status, 2) << arguments;
  EXPECT_EQ(run.out, "") << arguments;
  EXPECT_EQ(run.err.rfind("kestravu-stream: ", 0), 0u) << arguments << "\n" << run.err;
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << arguments << "\n" << run.err;
  EXPECT_EQ(run.err.empty() ? '\0' : run.err.back(), '\n') << arguments;
  EXPECT_EQ(entries(directory), before) << arguments;
}
