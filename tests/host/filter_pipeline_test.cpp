#include "host/filter_pipeline.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

namespace {

// The directory of this test program, where the build puts the libraries.
std::string BinaryDir() {
  char buffer[4096];
  const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return ".";
  std::string path(buffer, static_cast<size_t>(n));
  return path.substr(0, path.find_last_of('/'));
}

TEST(FilterModuleLoad, MissingFileFailsWithItsName) {
  std::string error;
  EXPECT_EQ(FilterModule::Load("/nonexistent/KESTRION.FLT", error), nullptr);
  EXPECT_NE(error.find("/nonexistent/KESTRION.FLT"), std::string::npos) << error;
}

TEST(FilterModuleLoad, LibraryWithoutRegistrationFunctionsIsRefusedByName) {
  std::string error;
  const std::string path = BinaryDir() + "/libkestrion_platform.so";
  EXPECT_EQ(FilterModule::Load(path, error), nullptr);
  EXPECT_NE(error.find("LibDescription"), std::string::npos) << error;
  EXPECT_NE(error.find(path), std::string::npos) << error;
}

}  // namespace
