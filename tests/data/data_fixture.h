// A fresh world on a fresh data folder under /tmp, for the data-layer tests.
#pragma once
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>

#include "data/common.h"
#include "data/database.h"
#include "platform/text.h"
#include "support/test_world.h"
#include "world/world.h"

namespace vornhal::test {

class DataFolderTest : public FreshWorldWithFolder {
 protected:
  DataFolderTest() : root_(folder_.Path()) {}

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

  // Runs fn with the log captured and returns what it printed.
  template <typename Fn>
  std::string Captured(Fn&& fn) {
    return CapturedLog(std::forward<Fn>(fn));
  }

  // Two maps the store and the portal tests need.
  void WriteBasicMaps() {
    WriteText("db/MapDB.txt", "10055,80,60,0,0,町,1\r\n1,120,100,0,0,草原,2\r\n");
  }

  // The world the character store tests need: three items (a stick, a potion, a cap) and the
  // two basic maps, written as data files and loaded.
  void LoadStoreWorld() {
    WriteText("db/ItemDB.txt",
              "Stick1,木の棒,0,1,0,1,0,0,1,1,1\r\n"
              "helixir,回復薬,0,0,5,2,0,0,0,0,2\r\n"
              "cap1,帽子,0,1,0,3,0,0,4,3,3\r\n");
    WriteBasicMaps();
    Captured([&] {
      LoadItemData(World);
      LoadMapData(World);
    });
  }

  const std::string root_;
};

}  // namespace vornhal::test
