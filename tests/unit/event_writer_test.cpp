// The wire format of event lines, byte for byte.

#include <gtest/gtest.h>

#include <limits>

#include "agent/event.hpp"
#include "agent/utf8.hpp"

namespace deskagent {
namespace {

// Ill-formed UTF-8 is repaired as in Utf8 below; that the writer repairs every string is the
// event fuzz target's to check.
TEST(EventWriter, WritesCompactJsonInMemberOrderEscapingOnlyWhatWouldBreakTheLine) {
  EXPECT_EQ(serializeEvent(Event{{"type", "key"}, {"keyCode", 63}, {"active", true}}),
            R"({"type":"key","keyCode":63,"active":true})");
  EXPECT_EQ(serializeEvent(Event{{"n", std::numeric_limits<std::int64_t>::min()},
                                 {"m", std::numeric_limits<std::int64_t>::max()}}),
            R"({"n":-9223372036854775808,"m":9223372036854775807})");
  EXPECT_EQ(serializeEvent(Event{{"text", "a\"b\\c/d\ne\rf\tg"}}),
            R"({"text":"a\"b\\c\/d\ne\rf\tg"})");
  EXPECT_EQ(serializeEvent(Event{{"text", std::string("\x00\x01\x1f\x7f", 4)}}),
            "{\"text\":\"\\u0000\\u0001\\u001f\x7f\"}");
  // Non-ASCII as raw UTF-8.
  EXPECT_EQ(serializeEvent(Event{{"text", "caf\xc3\xa9 \xf0\x9f\x8e\x99"}}),
            "{\"text\":\"caf\xc3\xa9 \xf0\x9f\x8e\x99\"}");
}

TEST(Utf8, ReplacesEachMaximalIllFormedSubpartOnce) {
  const std::string fffd = "\xef\xbf\xbd";
  struct Row {
    std::string in, out;
  } rows[] = {
      {"plain", "plain"},
      {"\xc3\xa9", "\xc3\xa9"},
      {"\xf4\x8f\xbf\xbf", "\xf4\x8f\xbf\xbf"},  // U+10FFFF
      {"\xe2\x82x", fffd + "x"},                 // truncated: one replacement
      {"\xf0\x9f\x8e", fffd},
      {"\xc0\x80", fffd + fffd},                        // overlong
      {"\xed\xa0\x80", fffd + fffd + fffd},             // surrogate
      {"\xf4\x90\x80\x80", fffd + fffd + fffd + fffd},  // beyond U+10FFFF
      {"\x80\xbf", fffd + fffd},                        // lone continuation bytes
      {"\xfe\xff", fffd + fffd},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(sanitizeUtf8(row.in), row.out) << testing::PrintToString(row.in);
    EXPECT_EQ(isValidUtf8(row.in), row.in == row.out) << testing::PrintToString(row.in);
  }
}

}  // namespace
}  // namespace deskagent
