#include "platform/automation_owners.h"
#include "variant_support.h"

#include <gtest/gtest.h>

namespace quorvel {
namespace {

// Each row does one thing to an owner of a counted object. A clear too many shows
// as a count below the test's own reference, one too few as a count above it.
TEST(UniqueVariant, ClearsWhatItHoldsOnceOnEveryRoad) {
  using Act = void (*)(UniqueVariant& owner, UniqueVariant& sink);
  struct Row { int line; Act act; ULONG refsAfter; VARTYPE heldAfter; ULONG refsInSink; };
  const Row rows[] = {
      {__LINE__, [](UniqueVariant&, UniqueVariant&) {}, 2, VT_UNKNOWN, 1},
      {__LINE__, [](UniqueVariant& o, UniqueVariant&) { o.reset(); }, 1, VT_EMPTY, 1},
      {__LINE__, [](UniqueVariant& o, UniqueVariant&) { o.reset(*o.get()); }, 2, VT_UNKNOWN, 1},
      {__LINE__, [](UniqueVariant& o, UniqueVariant&) { test::SetI4(*o.put(), 4); }, 1, VT_I4, 1},
      {__LINE__, [](UniqueVariant& o, UniqueVariant& s) { s.reset(o.release()); }, 2, VT_EMPTY, 2},
      {__LINE__, [](UniqueVariant& o, UniqueVariant& s) { s = std::move(o); }, 2, VT_EMPTY, 2},
      {__LINE__, [](UniqueVariant& o, UniqueVariant&) { UniqueVariant& same = o; o = std::move(same); }, 2,
       VT_UNKNOWN, 1},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.line);
    test::CountingUnknown unknown;
    UniqueVariant sink;
    {
      UniqueVariant owner;
      V_VT(owner.get()) = VT_UNKNOWN;
      V_UNKNOWN(owner.get()) = &unknown;
      unknown.AddRef();
      r.act(owner, sink);
      EXPECT_EQ(unknown.count(), r.refsAfter);
      EXPECT_EQ(V_VT(owner.get()), r.heldAfter);
    }
    EXPECT_EQ(unknown.count(), r.refsInSink);
  }
}

// Under the sanitizers a string freed while still held, or freed twice, fails the
// row; with OANOCACHE=1 the platform's cache cannot hide it either.
TEST(UniqueBstr, AdoptsOnlyWhenToldAndFreesOnce) {
  using Act = void (*)(UniqueBstr& owner, UniqueBstr& sink);
  struct Row { int line; Act act; bool holdsOriginal, sinkHoldsOriginal; std::u16string text; };
  const Row rows[] = {
      {__LINE__, [](UniqueBstr& o, UniqueBstr&) { o.reset(o.get()); }, true, false, u"abc"},
      {__LINE__, [](UniqueBstr& o, UniqueBstr& s) { s.reset(o.release()); }, false, true, u""},
      {__LINE__, [](UniqueBstr& o, UniqueBstr&) { UniqueBstr& same = o; o = std::move(same); }, true, false, u"abc"},
      {__LINE__, [](UniqueBstr& o, UniqueBstr&) { o.reset(test::Bstr(u"xy")); }, false, false, u"xy"},
      {__LINE__, [](UniqueBstr& o, UniqueBstr&) { o = UniqueBstr(std::u16string_view(u"a\0b", 3)); }, false, false,
       std::u16string(u"a\0b", 3)},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.line);
    UniqueBstr sink;
    UniqueBstr owner = UniqueBstr::Attach(test::Bstr(u"abc"));
    const BSTR original = owner.get();
    r.act(owner, sink);
    EXPECT_EQ(owner.get() == original, r.holdsOriginal);
    EXPECT_EQ(sink.get() == original, r.sinkHoldsOriginal);
    EXPECT_EQ(owner.view(), r.text);
  }
}

}  // namespace
}  // namespace quorvel
