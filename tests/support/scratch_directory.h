// A fresh directory for one test, removed with everything in it afterwards.
#pragma once
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

struct ScratchDirectory {
  std::string path;
  ScratchDirectory() {
    std::string pattern = testing::TempDir() + "kestravu-stream-XXXXXX";
    char* made = mkdtemp(pattern.data());
    EXPECT_NE(made, nullptr);
    path = pattern;
  }
  ~ScratchDirectory() { std::filesystem::remove_all(path); }
  std::string operator/(const std::string& name) const { return path + "/" + name; }
};
