#include <gtest/gtest.h>

#include "ui/dialogs.h"
#include "ui/platform.h"
#include "ui/text.h"

namespace varnok::ui {
namespace {

TEST(ApplicationTitle, RaisesTheFirstLetterAndLowersTheRest) {
  const struct {
    const char* executable;
    const char* title;
  } cases[] = {
      {"C:/TOOLS/ABC.EXE", "Abc"},
      {"/usr/bin/VarNok", "Varnok"},
      {"/build/app/varnok", "Varnok"},
      {"/opt/9lives.bin", "9lives"},
      {"/x.y/My.Tool.bin", "My"},
      {"/opt/.hidden", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(ApplicationTitle(c.executable), QString::fromLatin1(c.title)) << c.executable;
}

TEST(ExceptionReportText, AppendsAFullStopAfterCharactersAboveIt) {
  const struct {
    std::string message;
    const char* text;
  } cases[] = {
      {"", ""},
      {"In /x/varnok.ini kann nicht geschrieben werden", "In /x/varnok.ini kann nicht geschrieben werden."},
      {"Done.", "Done."},
      {"Really?", "Really?."},
      {"Stop!", "Stop!"},
      {"a-", "a-"},
      {"path/", "path/."},
      {"9", "9."},
  };
  for (const auto& c : cases) EXPECT_EQ(ExceptionReportText(c.message), QString::fromLatin1(c.text)) << c.message;
  EXPECT_EQ(ExceptionReportText("\xE4"), QString::fromLatin1("\xE4."));
}

TEST(TextConversion, IsLatin1CutAtTheFirstZeroByte) {
  using namespace std::string_view_literals;
  EXPECT_EQ(ToQt("HDR\0tail"sv), QStringLiteral("HDR"));
  EXPECT_EQ(ToQt("\xC4\xFF"sv), QString::fromUtf8("\xC3\x84\xC3\xBF"));
  EXPECT_EQ(ToQt(""sv), QString());
  EXPECT_EQ(FromQt(QString::fromUtf8("\xC3\x84\xC3\xBF")), "\xC4\xFF");
  EXPECT_EQ(FromQt(QStringLiteral("<b>x</b>")), "<b>x</b>");
}

}  // namespace
}  // namespace varnok::ui
