// The runner's main-thread half under Wine: the worker is replaced through the
// thread-start seam by one that plays the wizard's outcome into the shared record.
#include "createwiz/create_result.h"
#include "createwiz/runner_win.h"

#include "createwiz/runner_fakes_win.h"
#include "support/text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace quorvel {
namespace {

using test::ClipboardBlock;
using test::FakeObject;
using test::Field;
using test::SeedClipboard;
UINT Format() { return test::RecordFormat(); }

// What the played worker stores.
struct Outcome {
  HRESULT result = S_OK;
  FakeObject* object = nullptr;
};
Outcome g_outcome;
CreateObjWizardParams g_seen;

DWORD WINAPI PlayedWorker(void* parameter) {
  auto& params = *static_cast<CreateObjWizardParams*>(parameter);
  if (g_outcome.object) {
    g_outcome.object->AddRef();
    *params.newObjectOut = g_outcome.object;
  }
  params.result = g_outcome.result;
  g_seen.objectType = params.objectType;
  g_seen.containerPath = params.containerPath;
  g_seen.thirdArgument = params.thirdArgument;
  return 0;
}

HANDLE StartPlayedWorker(LPTHREAD_START_ROUTINE, void* parameter) {
  return ::CreateThread(nullptr, 0, PlayedWorker, parameter, 0, nullptr);
}

DWORD g_startError = 0;
HANDLE FailToStart(LPTHREAD_START_ROUTINE, void*) {
  ::SetLastError(g_startError);
  return nullptr;
}

class RunnerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    object_.values = {{L"distinguishedName", L"CN=Ann Lee,OU=Staff,DC=example,DC=com"},
                      {L"name", L"Ann Lee"},
                      {L"sAMAccountName", L"alee"}};
    g_outcome = Outcome{S_OK, &object_};
    ASSERT_TRUE(SeedClipboard());
  }
  HRESULT Run() { return RunCreateObjectWizardWith(StartPlayedWorker, L"OU=Staff,DC=example,DC=com", 0, L"x"); }
  FakeObject object_;
};

TEST_F(RunnerTest, SuccessPublishesTheThreeNamesAndKeepsOtherFormats) {
  EXPECT_EQ(Run(), S_OK);
  const auto bytes = ClipboardBlock(Format());
  ASSERT_GE(bytes.size(), 680u);
  EXPECT_EQ(Field(bytes, 0, 260), u"CN=Ann Lee,OU=Staff,DC=example,DC=com");
  EXPECT_EQ(Field(bytes, 520, 64), u"Ann Lee");
  EXPECT_EQ(Field(bytes, 648, 16), u"alee");
  EXPECT_EQ(Field(ClipboardBlock(CF_UNICODETEXT), 0, 4), u"seed");
  EXPECT_EQ((std::vector<std::wstring>{L"distinguishedName", L"name", L"sAMAccountName"}), object_.reads);
  EXPECT_EQ(object_.refs, 1);
  EXPECT_EQ(g_seen.containerPath, L"LDAP://OU=Staff,DC=example,DC=com");
  EXPECT_EQ(g_seen.thirdArgument, L"x");
  // The run's copy: the same 680 bytes, then the third field and a zero unit.
  const auto run = ClipboardBlock(test::RunFormat());
  ASSERT_GE(run.size(), 684u);
  EXPECT_TRUE(std::equal(bytes.begin(), bytes.begin() + 680, run.begin()));
  EXPECT_EQ(Field(run, 680, 2), u"x");
}

TEST_F(RunnerTest, PrefixIsAddedEvenWhenPresentAndNoThirdFieldLeavesTheRunFormat) {
  EXPECT_EQ(RunCreateObjectWizardWith(StartPlayedWorker, L"LDAP://CN=a", 2, L""), S_OK);
  EXPECT_EQ(g_seen.containerPath, L"LDAP://LDAP://CN=a");
  EXPECT_EQ(g_seen.objectType, 2);
  EXPECT_EQ(Field(ClipboardBlock(Format()), 648, 16), u"alee");
  EXPECT_EQ(Field(ClipboardBlock(test::RunFormat()), 0, 4), u"seed");
}

TEST_F(RunnerTest, OnlyTheThirdReadDecidesTheResultAndTheRecordIsPublished) {
  const HRESULT noAttribute = static_cast<HRESULT>(0x8000500D);
  object_.failures[L"sAMAccountName"] = noAttribute;
  EXPECT_EQ(Run(), noAttribute);
  auto bytes = ClipboardBlock(Format());
  ASSERT_GE(bytes.size(), 680u);
  EXPECT_EQ(Field(bytes, 520, 64), u"Ann Lee");
  EXPECT_EQ(Field(bytes, 648, 16), u"");

  object_.failures = {{L"distinguishedName", E_FAIL}};
  object_.reads.clear();
  EXPECT_EQ(Run(), S_OK);
  bytes = ClipboardBlock(Format());
  ASSERT_GE(bytes.size(), 680u);
  EXPECT_EQ(Field(bytes, 0, 260), u"");
  EXPECT_EQ(Field(bytes, 648, 16), u"alee");
  EXPECT_EQ(object_.reads.size(), 3u);
}

TEST_F(RunnerTest, AFailedReadLeavesItsFieldZeroWhateverTheProviderFilledIn) {
  object_.fillOnFailure = true;
  object_.failures = {{L"name", E_FAIL}, {L"sAMAccountName", static_cast<HRESULT>(0x8000500D)}};
  EXPECT_EQ(Run(), static_cast<HRESULT>(0x8000500D));
  const auto bytes = ClipboardBlock(Format());
  ASSERT_GE(bytes.size(), 680u);
  EXPECT_EQ(Field(bytes, 0, 260), u"CN=Ann Lee,OU=Staff,DC=example,DC=com");
  EXPECT_EQ(Field(bytes, 520, 64), u"");
  EXPECT_EQ(Field(bytes, 648, 16), u"");
}

// A worker that takes its time, as a person at the wizard does, and then answers a
// message sent to a window of the waiting thread only if that thread pumps.
struct SlowWorker {
  DWORD delayMs = 0;
  HWND mainWindow = nullptr;
  bool sentMessageAnswered = false;
  HANDLE handle = nullptr;  // the runner's handle to the worker
} g_slow;

DWORD WINAPI SlowPlayedWorker(void* parameter) {
  ::Sleep(g_slow.delayMs);
  if (g_slow.mainWindow) {
    DWORD_PTR answer = 0;
    g_slow.sentMessageAnswered =
        ::SendMessageTimeoutW(g_slow.mainWindow, WM_APP, 0, 0, SMTO_NORMAL, 300, &answer) != 0;
  }
  return PlayedWorker(parameter);
}

HANDLE StartSlowWorker(LPTHREAD_START_ROUTINE, void* parameter) {
  return g_slow.handle = ::CreateThread(nullptr, 0, SlowPlayedWorker, parameter, 0, nullptr);
}

TEST_F(RunnerTest, WaitsForTheWorkerHoweverLongItTakesAndPumpsNoMessages) {
  HWND window = ::CreateWindowExW(0, L"STATIC", L"waiting thread", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  nullptr, nullptr);
  ASSERT_NE(window, nullptr);
  g_slow = SlowWorker{1500, window};
  const DWORD start = ::GetTickCount();
  EXPECT_EQ(RunCreateObjectWizardWith(StartSlowWorker, L"CN=a", 0, L""), S_OK);
  EXPECT_GE(::GetTickCount() - start, 1500u);
  EXPECT_FALSE(g_slow.sentMessageAnswered) << "the runner ran a message loop while it waited";
  // The outcome stored at the worker's very end was seen: the names were read.
  EXPECT_EQ(object_.reads.size(), 3u);
  EXPECT_EQ(Field(ClipboardBlock(Format()), 648, 16), u"alee");
  ::DestroyWindow(window);
}

TEST_F(RunnerTest, TheWorkersHandleIsClosedOnEveryOutcome) {
  for (const HRESULT outcome : {S_OK, S_FALSE, E_FAIL}) {
    SCOPED_TRACE(outcome);
    g_outcome.result = outcome;
    g_slow = SlowWorker{};
    EXPECT_EQ(RunCreateObjectWizardWith(StartSlowWorker, L"CN=a", 0, L""), outcome);
    ASSERT_NE(g_slow.handle, nullptr);
    DWORD flags = 0;
    ::SetLastError(0);
    EXPECT_FALSE(::GetHandleInformation(g_slow.handle, &flags));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  }
}

TEST_F(RunnerTest, AThreadThatCannotStartRunsNothingAndTouchesNoClipboard) {
  struct Row {
    DWORD error;
    std::uint32_t result;
  };
  // As HRESULT_FROM_WIN32: bits above the low 16 are dropped, and a code already
  // in HRESULT form passes as it is.
  for (const Row& row : {Row{5, 0x80070005}, Row{8, 0x80070008}, Row{1450, 0x800705AA}, Row{0, 0},
                         Row{0x100005, 0x80070005}, Row{0x80004005, 0x80004005}}) {
    SCOPED_TRACE(row.error);
    g_startError = row.error;
    EXPECT_EQ(static_cast<std::uint32_t>(RunCreateObjectWizardWith(FailToStart, L"CN=a", 0, L"")), row.result);
    EXPECT_TRUE(object_.reads.empty());
    EXPECT_EQ(object_.refs, 1);
    EXPECT_EQ(Field(ClipboardBlock(Format()), 0, 4), u"seed");
  }
}

// Publication with each call able to fail: every block must be freed unless the
// clipboard took it, and the clipboard closed whenever it was opened.
struct Publication {
  bool registers = true, locks = true;
  int openFailures = 0;  // opens that fail before one succeeds
  bool setSucceeds = true, runSetSucceeds = true;
  HGLOBAL block = nullptr, runBlock = nullptr;
  int opens = 0, sets = 0, closes = 0;
} g_pub;

UINT FakeRegister(const wchar_t* name) { return g_pub.registers ? ::RegisterClipboardFormatW(name) : 0; }
// A movable block of no bytes is a discarded one, which GlobalLock refuses.
HGLOBAL RecordingAlloc(UINT flags, SIZE_T bytes) {
  HGLOBAL block = ::GlobalAlloc(flags, g_pub.locks ? bytes : 0);
  (g_pub.block ? g_pub.runBlock : g_pub.block) = block;
  return block;
}
BOOL FakeOpen(HWND) {
  return ++g_pub.opens > g_pub.openFailures;
}
HANDLE FakeSet(UINT format, HANDLE block) {
  // The record first, its run's copy after it.
  const bool run = ++g_pub.sets == 2;
  EXPECT_EQ(format, run ? test::RunFormat() : Format());
  EXPECT_EQ(block, run ? g_pub.runBlock : g_pub.block);
  return (run ? g_pub.runSetSucceeds : g_pub.setSucceeds) ? block : nullptr;
}
BOOL FakeClose() {
  ++g_pub.closes;
  return TRUE;
}

// Up to `size` of the block's bytes, then frees it: no real clipboard took it.
std::vector<std::uint8_t> TakeBlock(HGLOBAL block, std::size_t size) {
  std::vector<std::uint8_t> bytes(std::min<std::size_t>(::GlobalSize(block), size));
  std::memcpy(bytes.data(), ::GlobalLock(block), bytes.size());
  ::GlobalUnlock(block);
  ::GlobalFree(block);
  return bytes;
}

TEST(PublishRecord, ABlockTheClipboardDidNotTakeIsFreed) {
  const ClipboardCalls calls{FakeRegister, RecordingAlloc, FakeOpen, FakeSet, FakeClose};
  struct Row {
    int line;
    std::u16string third;
    bool registers, locks;
    int openFailures;
    bool set, runSet;
    int opens, sets, closes;
    bool freed, runFreed;
  };
  constexpr int kBusy = 1000;  // the clipboard stays busy beyond the retries (20 opens)
  const std::vector<Row> rows = {
      {__LINE__, u"", true, true, 0, true, true, 1, 1, 1, false, true},
      {__LINE__, u"", true, true, 0, false, true, 1, 1, 1, true, true},
      {__LINE__, u"", true, true, kBusy, false, true, 20, 0, 0, true, true},
      {__LINE__, u"", true, false, 0, true, true, 0, 0, 0, true, true},
      {__LINE__, u"", false, true, 0, true, true, 0, 0, 0, false, true},  // nothing allocated
      {__LINE__, u"run-7", true, true, 0, true, true, 1, 2, 1, false, false},
      {__LINE__, u"run-7", true, true, 0, true, false, 1, 2, 1, false, true},
      // No copy beside a record the clipboard refused.
      {__LINE__, u"run-7", true, true, 0, false, true, 1, 1, 1, true, true},
      {__LINE__, u"run-7", true, true, kBusy, true, true, 20, 0, 0, true, true},
      {__LINE__, u"run-7", true, false, 0, true, true, 0, 0, 0, true, true},
      // Busy for a moment (another client reading it): both are published all the same.
      {__LINE__, u"run-7", true, true, 1, true, true, 2, 2, 1, false, false},
      {__LINE__, u"run-7", true, true, 19, true, true, 20, 2, 1, false, false},
  };
  const CreateObjResultRecord record = BuildResultRecord(u"CN=x", u"x", u"x");
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    g_pub = Publication{row.registers, row.locks, row.openFailures, row.set, row.runSet};
    PublishRecord(record, row.third, calls);
    ASSERT_EQ(g_pub.block != nullptr, row.registers);
    // The copy is made only for a third field, and before the clipboard is opened.
    ASSERT_EQ(g_pub.runBlock != nullptr, row.registers && row.locks && !row.third.empty());
    EXPECT_EQ(g_pub.opens, row.opens);
    EXPECT_EQ(g_pub.sets, row.sets);
    EXPECT_EQ(g_pub.closes, row.closes);
    if (g_pub.block) {
      EXPECT_EQ(::GlobalFlags(g_pub.block) == GMEM_INVALID_HANDLE, row.freed);
      // Handed over whole: the 680 bytes of the record.
      if (!row.freed) {
        EXPECT_EQ(TakeBlock(g_pub.block, 680), std::vector<std::uint8_t>(record.bytes.begin(), record.bytes.end()));
      }
    }
    if (g_pub.runBlock) {
      EXPECT_EQ(::GlobalFlags(g_pub.runBlock) == GMEM_INVALID_HANDLE, row.runFreed);
      const auto run = BuildRunRecord(record, row.third);
      if (!row.runFreed) {
        EXPECT_EQ(TakeBlock(g_pub.runBlock, run.size()), run);
      }
    }
  }
}

}  // namespace
}  // namespace quorvel
