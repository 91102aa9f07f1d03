// Subject names: the spellings people type become one name, names that could rewrite a terminal
// or overflow a listing are refused, and whatever a gallery holds is printed harmlessly.
#include <gtest/gtest.h>

#include <string>

#include "tools/store/subject_name.h"

namespace ridgeline::tools {
namespace {

TEST(SubjectName, SpellingsThatLookTheSameBecomeOneName) {
  EXPECT_EQ(NormaliseSubjectName("bob"), "bob");
  EXPECT_EQ(NormaliseSubjectName("  bob \t\n"), "bob");
  EXPECT_EQ(NormaliseSubjectName("\xC2\xA0"
                                 "bob"
                                 "\xE2\x80\x83"),
            "bob");                                         // NBSP, em space
  EXPECT_EQ(NormaliseSubjectName("mary ann"), "mary ann");  // inner spaces stay
  const std::string nfc = "Zo\xC3\xAB";                     // ë precomposed
  const std::string nfd = "Zoe\xCC\x88";                    // e + combining diaeresis
  EXPECT_EQ(NormaliseSubjectName(nfd), nfc);
  EXPECT_EQ(NormaliseSubjectName(nfc), nfc);
}

TEST(SubjectName, UnsafeOrOversizedNamesAreRefused) {
  const char* refused[] = {
      "",                 // empty
      "   ",              // only spaces
      "bob\x1B[2Jeve",    // ANSI escape
      "bo\rb",            // carriage return inside
      "bob\x7F",          // DEL
      "bob\u202Eevil",    // right-to-left override
      "bob\xE2\x80\xA8",  // line separator
      "\xEE\x80\x80",     // private use
      "bob\xFF",          // not UTF-8
      "\xC0\xAF",         // overlong encoding
  };
  for (const char* name : refused) {
    EXPECT_THROW(NormaliseSubjectName(name), SubjectNameError) << PrintableText(name);
  }
  EXPECT_THROW(NormaliseSubjectName(std::string("a\0b", 3)), SubjectNameError);
  EXPECT_THROW(NormaliseSubjectName(std::string(5000, 'x')), SubjectNameError);
  // The limit counts characters, not bytes: 128 two-byte letters pass, 129 do not.
  std::string greek;
  for (int i = 0; i < 128; ++i) greek += "\xCE\xB1";
  EXPECT_EQ(NormaliseSubjectName(greek), greek);
  EXPECT_THROW(NormaliseSubjectName(greek + "\xCE\xB1"), SubjectNameError);
  // Joiners are part of ordinary text and stay.
  EXPECT_NO_THROW(
      NormaliseSubjectName("a\xE2\x80\x8D"
                           "b"));
}

TEST(SubjectName, PrintingEscapesWhatATerminalWouldObey) {
  EXPECT_EQ(PrintableText("alice"), "alice");
  EXPECT_EQ(PrintableText("Zo\xC3\xAB"), "Zo\xC3\xAB");
  EXPECT_EQ(PrintableText("a\x1B[2Jb"), "a\\u{001B}[2Jb");
  EXPECT_EQ(PrintableText("a\nb"), "a\\u{000A}b");
  EXPECT_EQ(PrintableText("x\xE2\x80\xAEy"), "x\\u{202E}y");
  EXPECT_EQ(PrintableText("bad\xFF"), "bad\\xFF");
  EXPECT_EQ(PrintableText("cut\xC3"), "cut\\xC3");
}

TEST(SubjectName, WidthCountsTerminalColumns) {
  EXPECT_EQ(DisplayWidth("alice"), 5u);
  EXPECT_EQ(DisplayWidth("Zo\xC3\xAB"), 3u);
  EXPECT_EQ(DisplayWidth("Zoe\xCC\x88"), 3u);               // the combining mark takes no column
  EXPECT_EQ(DisplayWidth("\xE5\xB1\xB1\xE7\x94\xB0"), 4u);  // two wide CJK characters
  EXPECT_EQ(PadToWidth("\xE5\xB1\xB1", 4), "\xE5\xB1\xB1  ");
  EXPECT_EQ(PadToWidth("toolong", 3), "toolong");
}

}  // namespace
}  // namespace ridgeline::tools
