#include "platform/last_error.h"
#include "util/delimited_field.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace quorvel {
namespace {

struct FieldCase {
  int line;
  std::u16string source;
  std::u16string delimiter;
  std::int32_t index;
  std::u16string field;
  std::uint32_t lastError;
};

void CheckCases(const std::vector<FieldCase>& cases) {
  for (const FieldCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "row at line " << c.line);
    SetLastErrorCode(12345);  // stale value: every call must set the code itself
    EXPECT_EQ(GetDelimitedField(c.source, c.delimiter, c.index), c.field);
    EXPECT_EQ(GetLastErrorCode(), c.lastError);
  }
}

TEST(DelimitedField, SeparatorForm) {
  CheckCases({
      {__LINE__, u"a|b|c", u"|", 1, u"a", 0},
      {__LINE__, u"a|b|c", u"|", 2, u"b", 0},
      {__LINE__, u"a|b|c", u"|", 3, u"c", 0},
      {__LINE__, u"a|b|c", u"|", 4, u"", 87},
      {__LINE__, u"a|b|c", u"|", 0, u"", 0},
      {__LINE__, u"a|b|c", u"|", -1, u"", 0},
      {__LINE__, u"a|b|c", u"|", INT32_MIN, u"", 0},
      {__LINE__, u"a|b|c", u"|", INT32_MAX, u"", 87},
      {__LINE__, u"abc", u"|", 1, u"abc", 0},
      {__LINE__, u"abc", u"|", 2, u"", 87},
      {__LINE__, u"a||c", u"|", 2, u"", 0},
      {__LINE__, u"a||c", u"|", 3, u"c", 0},
      {__LINE__, u"|a", u"|", 1, u"", 0},
      {__LINE__, u"|a", u"|", 2, u"a", 0},
      {__LINE__, u"a|", u"|", 2, u"", 0},
      {__LINE__, u"a|", u"|", 3, u"", 87},
      {__LINE__, u"", u"|", 0, u"", 87},
      {__LINE__, u"abc", u"", 1, u"", 87},
      // Case-sensitive, code unit by code unit; the separator need not be ASCII.
      {__LINE__, u"aXbxc", u"x", 2, u"c", 0},
      {__LINE__, u"a\u00e9b", u"\u00e9", 2, u"b", 0},
      // A zero code unit is an ordinary character inside the text.
      {__LINE__, std::u16string(u"a\0b|c", 5), u"|", 1, std::u16string(u"a\0b", 3), 0},
  });
}

TEST(DelimitedField, PairForm) {
  CheckCases({
      {__LINE__, u"a[b]c[d]", u"[]", 1, u"b", 0},
      {__LINE__, u"a[b]c[d]", u"[]", 2, u"d", 0},
      {__LINE__, u"a[b]c[d]", u"[]", 3, u"", 87},
      {__LINE__, u"a[b]c[d]", u"[]", 0, u"a[b", 0},
      {__LINE__, u"a[b]c[d]", u"[]", -5, u"a[b", 0},
      {__LINE__, u"[a[b]", u"[]", 1, u"a[b", 0},
      {__LINE__, u"[a[b]", u"[]", 2, u"b", 0},
      {__LINE__, u"]x[y]", u"[]", 1, u"y", 0},
      {__LINE__, u"a[]b", u"[]", 1, u"", 0},
      {__LINE__, u"ab[", u"[]", 1, u"", 0},
      {__LINE__, u"[a]", u"[]x", 1, u"a", 0},
      {__LINE__, u"[a]", u"[[", 1, u"", 87},
      {__LINE__, u"[a]", u"[[", 0, u"", 87},
      // An unclosed field ends before the text's last character.
      {__LINE__, u"x[ab", u"[]", 1, u"a", 0},
      {__LINE__, u"ab", u"[]", 0, u"a", 0},
      {__LINE__, u"a[b", u"[]", 1, u"", 0},
      // Fewer opening characters than the index asks for.
      {__LINE__, u"[a]", u"[]", 2, u"", 87},
      {__LINE__, u"abc", u"[]", 1, u"", 87},
      // The field ends at the first closing character after its start, not at a
      // matching one; the closing character may stand right at the start.
      {__LINE__, u"[a]b]", u"[]", 1, u"a", 0},
      {__LINE__, u"[]", u"[]", 1, u"", 0},
      // Opening and closing characters are compared exactly, and only the first two
      // delimiter characters count.
      {__LINE__, u"(a)", u"[]", 1, u"", 87},
      {__LINE__, u"<a>", u"<>><", 1, u"a", 0},
      // With the two swapped, "]" opens: the one that ends the text opens an empty field.
      {__LINE__, u"[a]", u"][", 1, u"", 0},
  });
}

// The code is the calling thread's: a call on another thread neither changes nor
// reads it. Between its own call and its read, this thread only spins on atomics,
// since starting or joining a thread may itself change the platform's code.
TEST(DelimitedField, LastErrorBelongsToTheCallingThread) {
  struct Row {
    int line;
    std::u16string here, there;  // sources for field 2 of "|"
    std::uint32_t codeHere, codeThere;
  };
  const std::vector<Row> rows = {
      {__LINE__, u"a|b", u"a", 0, 87},
      {__LINE__, u"a", u"a|b", 87, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    std::atomic<bool> go{false}, done{false};
    std::uint32_t seenThere = 12345;
    std::thread other([&] {
      while (!go.load(std::memory_order_acquire)) {
      }
      SetLastErrorCode(12345);
      GetDelimitedField(row.there, u"|", 2);
      seenThere = GetLastErrorCode();
      done.store(true, std::memory_order_release);
    });
    GetDelimitedField(row.here, u"|", 2);
    go.store(true, std::memory_order_release);
    while (!done.load(std::memory_order_acquire)) {
    }
    const std::uint32_t seenHere = GetLastErrorCode();
    other.join();
    EXPECT_EQ(seenHere, row.codeHere);
    EXPECT_EQ(seenThere, row.codeThere);
  }
}

}  // namespace
}  // namespace quorvel
