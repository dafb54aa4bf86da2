#include "platform/win/com_ptr.h"
#include "platform/win/unique_handle.h"
#include "variant_support.h"

#include <gtest/gtest.h>

namespace quorvel {
namespace {

using Ptr = ComPtr<IUnknown>;

// Each row does one thing with pointers to a counted object that starts with the
// test's own reference, and says how many references are then held.
TEST(ComPtr, CountsEveryReferenceItTakesAndGivesBack) {
  using Act = void (*)(test::CountingUnknown& object, Ptr& held, Ptr& other);
  struct Row { int line; Act act; ULONG refsAfter; bool stillHeld; };
  const Row rows[] = {
      {__LINE__, [](test::CountingUnknown&, Ptr& h, Ptr& o) { o = h; }, 3, true},
      {__LINE__, [](test::CountingUnknown&, Ptr& h, Ptr&) { h = *&h; }, 2, true},
      {__LINE__, [](test::CountingUnknown&, Ptr& h, Ptr& o) { o = std::move(h); }, 2, false},
      {__LINE__, [](test::CountingUnknown&, Ptr& h, Ptr&) { Ptr& same = h; h = std::move(same); }, 2, true},
      {__LINE__, [](test::CountingUnknown& c, Ptr& h, Ptr&) { c.AddRef(); h = Ptr::Attach(&c); }, 2, true},
      {__LINE__, [](test::CountingUnknown&, Ptr& h, Ptr& o) { EXPECT_EQ(h.As(IID_IUnknown, o), S_OK); }, 3, true},
      {__LINE__,
       [](test::CountingUnknown&, Ptr& h, Ptr& o) {
         ComPtr<IDispatch> none;
         EXPECT_EQ(h.As(IID_IDispatch, none), E_NOINTERFACE);
         EXPECT_EQ(o.As(IID_IUnknown, none), E_POINTER);
       },
       2, true},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.line);
    test::CountingUnknown object;
    {
      Ptr other;
      Ptr held(&object);
      r.act(object, held, other);
      EXPECT_EQ(object.count(), r.refsAfter);
      EXPECT_EQ(held.get() == &object, r.stillHeld);
    }
    EXPECT_EQ(object.count(), 1u);
  }
}

int g_closes = 0;
void CloseAndFail(int) {
  ++g_closes;
  ::SetLastError(ERROR_INVALID_HANDLE);
}
using FailingClose = UniqueHandle<int, CloseAndFail>;

// Code that reads GetLastError after a cleanup must see the failure that led to
// it, not the cleanup's own.
TEST(UniqueHandle, KeepsTheLastErrorAcrossEveryClose) {
  for (void (*act)(FailingClose&) : {+[](FailingClose& h) { h.reset(); }, +[](FailingClose& h) { h.reset(2); },
                                     +[](FailingClose& h) { h = FailingClose(3); },
                                     +[](FailingClose& h) { FailingClose destroyed(std::move(h)); }}) {
    g_closes = 0;
    FailingClose held(1);
    ::SetLastError(ERROR_ACCESS_DENIED);
    act(held);
    EXPECT_EQ(g_closes, 1);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  }
}

}  // namespace
}  // namespace quorvel
