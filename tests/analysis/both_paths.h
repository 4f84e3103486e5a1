#pragma once

#include <gtest/gtest.h>

#include <string>

#include "cpu_features.h"

namespace varnok {

// A test that runs once on the AVX2 paths (where the CPU has them) and once on the scalar paths.
class BothPaths : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override { SetAvx2Enabled(GetParam()); }
  void TearDown() override { SetAvx2Enabled(true); }
};

inline std::string PathName(const ::testing::TestParamInfo<bool>& info) { return info.param ? "Vector" : "Scalar"; }

}  // namespace varnok
