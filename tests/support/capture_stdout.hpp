#pragma once
// What a piece of code prints: runs a body with standard output captured (GoogleTest's capture;
// unit tests only).
#include <cstdio>
#include <string>

#include <gtest/gtest.h>

namespace orvik::testing_support {

// Runs `body` and returns what it wrote to standard output; whatever was printed before, and
// still buffered, is flushed first and not captured.
template <class Body>
std::string capture_stdout(Body&& body) {
  std::fflush(stdout);
  testing::internal::CaptureStdout();
  body();
  std::fflush(stdout);
  return testing::internal::GetCapturedStdout();
}

}  // namespace orvik::testing_support
