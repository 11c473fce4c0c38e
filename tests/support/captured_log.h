// The log lines a piece of test code makes: the log goes to standard output.
#pragma once
#include <gtest/gtest.h>

#include <string>

namespace vornhal::test {

// Runs fn with standard output captured and returns what it printed.
template <typename Fn>
std::string CapturedLog(Fn&& fn) {
  ::testing::internal::CaptureStdout();
  try {
    fn();
  } catch (...) {
    ::testing::internal::GetCapturedStdout();
    throw;
  }
  return ::testing::internal::GetCapturedStdout();
}

}  // namespace vornhal::test
