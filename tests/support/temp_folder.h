// A fresh folder under /tmp for a test, removed with everything in it when the object goes.
#pragma once
#include <stdlib.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>

namespace vornhal::test {

class TempFolder {
 public:
  explicit TempFolder(const std::string& stem = "vornhal-test") {
    std::string tmpl = "/tmp/" + stem + "-XXXXXX";
    if (::mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("cannot create " + tmpl);
    path_ = tmpl;
  }
  ~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  // The folder, without a trailing slash.
  const std::string& Path() const { return path_; }
  std::string Path(const std::string& relative) const { return path_ + "/" + relative; }

 private:
  std::string path_;
};

}  // namespace vornhal::test
