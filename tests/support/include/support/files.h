#pragma once

#include <string>

namespace varnok::test {

// A folder of this test program's own, made at the first call and removed with everything in it when the program
// ends: ctest runs test cases side by side, each in a process of its own, and they must not share files.
const std::string& TestDir();

// Writes bytes to the file name in TestDir() and returns the file's path.
std::string WriteFile(const std::string& name, const std::string& bytes);

// The bytes of the file at path; empty when it cannot be read.
std::string Slurp(const std::string& path);

}  // namespace varnok::test
