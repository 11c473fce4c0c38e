// A fresh data folder under /tmp with the containers created, for the data-layer tests.
#pragma once
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "data/common.h"
#include "data/database.h"
#include "platform/text.h"
#include "world/exp_table.h"
#include "world/globals.h"

namespace vornhal::test {

class DataFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/vornhal-data-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    root_ = tmpl;
    DataDir = root_ + "/";
    InitExpTable();
    InitDatabase();
    ResetObjectIDs();
  }
  void TearDown() override {
    FreeDatabase();
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
    DataDir.clear();
  }

  // Writes raw bytes to DataDir + relative path, creating folders.
  void WriteBytes(const std::string& relative, const std::string& bytes) {
    std::filesystem::path p = std::filesystem::path(root_) / relative;
    std::filesystem::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << bytes;
  }
  // Writes UTF-8 text converted to code page 932, as the db files are stored.
  void WriteText(const std::string& relative, const std::string& utf8) {
    WriteBytes(relative, ToCP932(utf8));
  }
  std::string Path(const std::string& relative) const { return root_ + "/" + relative; }

  // Runs fn with standard output captured and returns what it printed.
  template <typename Fn>
  std::string Captured(Fn&& fn) {
    ::testing::internal::CaptureStdout();
    try {
      fn();
    } catch (...) {
      ::testing::internal::GetCapturedStdout();
      throw;
    }
    return ::testing::internal::GetCapturedStdout();
  }

  // Two maps the store and the portal tests need.
  void WriteBasicMaps() {
    WriteText("db/MapDB.txt", "10055,80,60,0,0,町,1\r\n1,120,100,0,0,草原,2\r\n");
  }

  std::string root_;
};

}  // namespace vornhal::test
