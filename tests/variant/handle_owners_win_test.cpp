#include "platform/win/com_ptr.h"
#include "platform/win/unique_handle.h"
#include "variant_support.h"

#include <gtest/gtest.h>

namespace quorvel {
namespace {

// Each row does one thing with pointers to a counted object, which starts with the
// test's own reference, and says how many references are then held.
TEST(ComPtr, CountsEveryReferenceItTakesAndGivesBack) {
  struct Row {
    int line;
    void (*act)(test::CountingUnknown& object, ComPtr<IUnknown>& held, ComPtr<IUnknown>& other);
    ULONG refsAfter;
    bool stillHeld;
  };
  const Row rows[] = {
      {__LINE__, [](test::CountingUnknown&, ComPtr<IUnknown>&, ComPtr<IUnknown>&) {}, 2, true},
      {__LINE__, [](test::CountingUnknown&, ComPtr<IUnknown>& h, ComPtr<IUnknown>& o) { o = h; }, 3, true},
      {__LINE__, [](test::CountingUnknown&, ComPtr<IUnknown>& h, ComPtr<IUnknown>&) { h = *&h; }, 2, true},
      {__LINE__, [](test::CountingUnknown&, ComPtr<IUnknown>& h, ComPtr<IUnknown>& o) { o = std::move(h); }, 2,
       false},
      {__LINE__,
       [](test::CountingUnknown&, ComPtr<IUnknown>& h, ComPtr<IUnknown>&) {
         ComPtr<IUnknown>& same = h;
         h = std::move(same);
       },
       2, true},
      {__LINE__, [](test::CountingUnknown&, ComPtr<IUnknown>& h, ComPtr<IUnknown>& o) { h = o; }, 1, false},
      {__LINE__, [](test::CountingUnknown&, ComPtr<IUnknown>& h, ComPtr<IUnknown>&) { EXPECT_EQ(*h.put(), nullptr); },
       1, false},
      {__LINE__, [](test::CountingUnknown&, ComPtr<IUnknown>& h, ComPtr<IUnknown>&) { h.Detach()->Release(); }, 1,
       false},
      {__LINE__,
       [](test::CountingUnknown& c, ComPtr<IUnknown>& h, ComPtr<IUnknown>&) {
         c.AddRef();
         h = ComPtr<IUnknown>::Attach(&c);
       },
       2, true},
      {__LINE__,
       [](test::CountingUnknown&, ComPtr<IUnknown>& h, ComPtr<IUnknown>& o) {
         EXPECT_EQ(h.As(IID_IUnknown, o), S_OK);
       },
       3, true},
      {__LINE__,
       [](test::CountingUnknown&, ComPtr<IUnknown>& h, ComPtr<IUnknown>& o) {
         ComPtr<IDispatch> none;
         EXPECT_EQ(h.As(IID_IDispatch, none), E_NOINTERFACE);
         EXPECT_FALSE(none);
         EXPECT_EQ(o.As(IID_IUnknown, none), E_POINTER);
       },
       2, true},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.line);
    test::CountingUnknown object;
    {
      ComPtr<IUnknown> other;
      ComPtr<IUnknown> held(&object);
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
using FailingCloseHandle = UniqueHandle<int, CloseAndFail>;

// Code that reads GetLastError after a cleanup must see the failure that led to
// it, not the cleanup's own.
TEST(UniqueHandle, KeepsTheLastErrorAcrossEveryClose) {
  struct Row {
    int line;
    void (*act)(FailingCloseHandle& held);
    int closes;
  };
  const Row rows[] = {
      {__LINE__, [](FailingCloseHandle& h) { h.reset(); }, 1},
      {__LINE__, [](FailingCloseHandle& h) { h.reset(2); }, 1},
      {__LINE__, [](FailingCloseHandle& h) { static_cast<void>(h.put()); }, 1},
      {__LINE__, [](FailingCloseHandle& h) { h = FailingCloseHandle(3); }, 1},
      {__LINE__, [](FailingCloseHandle& h) { FailingCloseHandle destroyed(std::move(h)); }, 1},
      {__LINE__, [](FailingCloseHandle& h) { static_cast<void>(h.release()); }, 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.line);
    g_closes = 0;
    FailingCloseHandle held(1);
    ::SetLastError(ERROR_ACCESS_DENIED);
    r.act(held);
    EXPECT_EQ(g_closes, r.closes);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  }
}

}  // namespace
}  // namespace quorvel
