// A directory property page extension the test scripts, registered inside the test
// process for CLSID_DsPropertyPages. Each instance the host creates adds its pages
// (a small dialog template in memory), reads the host's PROPSHEETCFG as a real
// extension does, and from its first page runs the test's script once the sheet is
// up, then closes the sheet, so that Run returns without a person.
#pragma once

#include "support/win/ref_ledger.h"

#include <objidl.h>
#include <prsht.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <deque>
#include <functional>
#include <memory>
#include <string>

namespace quorvel::test {

// The sheet as its first page sees it while it is up.
struct SheetView {
  HWND page = nullptr;
  HWND sheet = nullptr;
  HWND owner = nullptr;  // the sheet's owner window
  HICON icon = nullptr;  // the small icon, where comctl32 puts the header's hIcon
  std::wstring caption;
};

enum class CloseWith { Cancel, Ok };

struct ExtensionScript {
  int pages = 1;
  // Null handles handed to the host before the pages, as an extension does that
  // passes on a failed CreatePropertySheetPage unchecked.
  int nullPages = 0;
  HRESULT initializeResult = S_OK;
  // false: the extension is no IShellPropSheetExt.
  bool sheetExtension = true;
  HRESULT addPagesResult = S_OK;
  // Run from the first page once the sheet is up, before it is closed.
  std::function<void(const SheetView&)> whileUp;
  CloseWith close = CloseWith::Cancel;
};

// One page the extension created.
struct PageRecord {
  HPROPSHEETPAGE handle = nullptr;
  int addRefs = 0;   // PSPCB_ADDREF: CreatePropertySheetPage
  int releases = 0;  // PSPCB_RELEASE: DestroyPropertySheetPage, by the sheet or by the host
  bool shown = false;
  IDataObject* data = nullptr;  // the page's own reference, given back when it is destroyed
  struct FakePageExtension* extension = nullptr;
  int index = 0;
};

struct FakePageExtension final : IShellExtInit, IShellPropSheetExt {
  explicit FakePageExtension(ExtensionScript s) : script(std::move(s)) {}
  FakePageExtension(const FakePageExtension&) = delete;
  FakePageExtension& operator=(const FakePageExtension&) = delete;

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override { return refs.Add(); }
  STDMETHODIMP_(ULONG) Release() override;
  STDMETHODIMP Initialize(PCIDLIST_ABSOLUTE folder, IDataObject* data, HKEY progId) override;
  STDMETHODIMP AddPages(LPFNSVADDPROPSHEETPAGE add, LPARAM param) override;
  STDMETHODIMP ReplacePage(EXPPS, LPFNSVADDPROPSHEETPAGE, LPARAM) override { return E_NOTIMPL; }

  ExtensionScript script;
  RefLedger refs;
  std::deque<PageRecord> pages;
  // The host's PROPSHEETCFG as read during AddPages.
  HRESULT cfgResult = E_PENDING;
  HWND cfgHidden = nullptr;
  HWND cfgParentSheet = nullptr;
  ATOM hiddenClass = 0;
  // What the first page saw while the sheet was up (whileUp ran when `viewed`).
  SheetView view;
  bool viewed = false;

 private:
  IDataObject* data_ = nullptr;
};

class FakePageExtensions {
 public:
  // Registers the class object; construct inside a COM apartment.
  FakePageExtensions();
  FakePageExtensions(const FakePageExtensions&) = delete;
  FakePageExtensions& operator=(const FakePageExtensions&) = delete;
  ~FakePageExtensions();

  HRESULT ready() const { return registration_->result(); }
  // The script for the next instance the host creates; instances created after the
  // queued scripts are used up get one page that is cancelled at once.
  void Expect(ExtensionScript script) { scripts_.push_back(std::move(script)); }
  // Every instance created, in order; they live as long as this object.
  const std::deque<std::unique_ptr<FakePageExtension>>& created() const { return created_; }
  const FakePageExtension& at(std::size_t i) const { return *created_.at(i); }

 private:
  static HRESULT Create(void* context, REFIID iid, void** out);
  std::deque<ExtensionScript> scripts_;
  std::deque<std::unique_ptr<FakePageExtension>> created_;
  FakeClassFactory factory_;
  std::unique_ptr<ScopedClassObject> registration_;
};

}  // namespace quorvel::test
