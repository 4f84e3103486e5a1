#pragma once

// One suite for every place that shows a run's result: what a run shows must read back the same from each.
// A probe type P runs an input as its implementation does and reads back what it shows:
//   void Run(const std::string& input);
//   std::string Shown(DisplayField field);  // as 8-bit text
//   std::string Status();
//   StatusColour Colour();
// Instantiate with INSTANTIATE_TYPED_TEST_SUITE_P(Name, AnalysisDisplayContract, ::testing::Types<P>).

#include <gtest/gtest.h>

#include <string>

#include "analysis/analysis_run.h"
#include "support/srec_builder.h"

namespace varnok::test {

template <typename Probe>
class AnalysisDisplayContract : public ::testing::Test {
 protected:
  void Analyse(const std::string& input) { probe_.Run(input); }

  Probe probe_;
};

TYPED_TEST_SUITE_P(AnalysisDisplayContract);

TYPED_TEST_P(AnalysisDisplayContract, ShowsEveryFieldOfASuccessfulRun) {
  std::string input = Record(0, 0, std::string("FIRMWARE_MODULE_0001") + "0105" + "Demo") + "\n";
  input += "S1130000000102030405060708090A0B0C0D0E0F74\n";
  for (std::uint32_t i = 0; i < 5; ++i) input += Record(3, 0x10000 + 220 * i, std::string(220, 'x')) + "\n";
  this->Analyse(input + "S9030000FC\n");
  auto& probe = this->probe_;
  EXPECT_EQ(probe.Status(), "Parsing successfully finished...");
  EXPECT_EQ(probe.Colour(), StatusColour::Black);
  const struct {
    DisplayField field;
    std::string text;
  } fields[] = {
      {DisplayField::Module, "FIRMWARE_MODULE_0001"}, {DisplayField::Version, "1.5"},
      {DisplayField::Description, "Demo"},            {DisplayField::RecordLines, "8"},
      {DisplayField::TotalDatabytes, "1116 bytes (1 kb)"}, {DisplayField::Highest, "0x0001044B"},
      {DisplayField::Lowest, "0x00000000"},           {DisplayField::Exec, "0x00000000"},
  };
  for (const auto& f : fields) EXPECT_EQ(probe.Shown(f.field), f.text) << static_cast<int>(f.field);
}

TYPED_TEST_P(AnalysisDisplayContract, AFailedRunShowsItsLineInMaroonAndClearsTheSummary) {
  this->Analyse("S00600004844521B\nS9030000FC\n");
  this->Analyse(Record(0, 0, std::string("NEXT")) + "\nS9030000FD\n");
  auto& probe = this->probe_;
  EXPECT_EQ(probe.Status(), "Checksum error @ line 2");
  EXPECT_EQ(probe.Colour(), StatusColour::Maroon);
  EXPECT_EQ(probe.Shown(DisplayField::Module), "NEXT");
  for (DisplayField field : {DisplayField::RecordLines, DisplayField::TotalDatabytes, DisplayField::Highest,
                             DisplayField::Lowest, DisplayField::Exec}) {
    EXPECT_EQ(probe.Shown(field), "") << static_cast<int>(field);
  }
}

// Header texts are shown byte for byte, markup and bytes above 0x7F included, up to their first byte 0.
TYPED_TEST_P(AnalysisDisplayContract, ShowsHeaderTextsAsTheyAre) {
  this->Analyse(Record(0, 0, std::string("<b>\xE9</b>\x01           0105x\0y", 27)) + "\n");
  auto& probe = this->probe_;
  EXPECT_EQ(probe.Shown(DisplayField::Module), std::string("<b>\xE9</b>\x01           "));
  EXPECT_EQ(probe.Shown(DisplayField::Version), "1.5");
  EXPECT_EQ(probe.Shown(DisplayField::Description), "x");
}

REGISTER_TYPED_TEST_SUITE_P(AnalysisDisplayContract, ShowsEveryFieldOfASuccessfulRun,
                            AFailedRunShowsItsLineInMaroonAndClearsTheSummary, ShowsHeaderTextsAsTheyAre);

}  // namespace varnok::test
