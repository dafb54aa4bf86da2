// quorvel_client.dll: the C interface over the C++ client. Only plain types cross;
// every string handed out comes from CoTaskMemAlloc, which every language's runtime
// on Windows knows how to free.
#include "quorvel_client_c.h"

#include "client_owners_win.h"
#include "quorvel_client.h"

#include <memory>
#include <new>
#include <utility>

struct QUORVEL_RUN_ {
  quorvel::client::Run run;
};

namespace {

namespace qc = quorvel::client;

qc::CoTaskMemString Copy(const std::wstring& text) { return qc::CoTaskMemCopy(text.c_str(), text.size()); }

void FreeStrings(QUORVEL_OUTCOME& out) {
  for (LPWSTR* text : {&out.reason, &out.distinguishedName, &out.name, &out.samAccountName})
    ::CoTaskMemFree(std::exchange(*text, nullptr));
}

bool Usable(const QUORVEL_OUTCOME* out) { return out && out->cbSize >= sizeof(QUORVEL_OUTCOME); }

// The C values are fixed for good; a result the C++ side adds must be given one here
// (the switch has no default, so the build says so).
INT CResult(qc::Result result) {
  switch (result) {
    case qc::Result::Unchanged: return QUORVEL_UNCHANGED;
    case qc::Result::Changed: return QUORVEL_CHANGED;
    case qc::Result::BindFailed: return QUORVEL_BIND_FAILED;
    case qc::Result::Created: return QUORVEL_CREATED;
    case qc::Result::CreatedNamesUnknown: return QUORVEL_CREATED_NAMES_UNKNOWN;
    case qc::Result::Cancelled: return QUORVEL_CANCELLED;
    case qc::Result::Failed: return QUORVEL_FAILED;
    case qc::Result::Refused: return QUORVEL_REFUSED;
    case qc::Result::Error: return QUORVEL_ERROR;
  }
  return QUORVEL_ERROR;
}

// Every string is copied before anything is written: a failed fill leaves `out` as it was.
HRESULT Fill(const qc::Outcome& outcome, QUORVEL_OUTCOME& out) {
  const bool created = outcome.result == qc::Result::Created;
  qc::CoTaskMemString reason = Copy(outcome.reason), dn, name, account;
  if (created) {
    dn = Copy(outcome.created.distinguishedName);
    name = Copy(outcome.created.name);
    account = Copy(outcome.created.samAccountName);
  }
  if (!reason || (created && !(dn && name && account))) return E_OUTOFMEMORY;
  out.reason = reason.release();
  out.distinguishedName = dn.release();
  out.name = name.release();
  out.samAccountName = account.release();
  // Last, so that a caller reading them sees a struct that is whole.
  out.code = outcome.code;
  out.result = CResult(outcome.result);
  return S_OK;
}

std::wstring_view Text(LPCWSTR text) { return text ? std::wstring_view(text) : std::wstring_view(); }

// Nothing may leave through a C boundary; the C++ client throws only std::bad_alloc.
template <typename F>
HRESULT Guard(F&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

template <typename F>
HRESULT Blocking(QUORVEL_OUTCOME* outcome, F&& run) noexcept {
  if (!outcome) return E_POINTER;
  if (!Usable(outcome)) return E_INVALIDARG;
  return Guard([&] { return Fill(run(), *outcome); });
}

template <typename F>
HRESULT Starting(QUORVEL_RUN* run, F&& start) noexcept {
  if (!run) return E_POINTER;
  *run = nullptr;
  return Guard([&] {
    auto handle = std::make_unique<QUORVEL_RUN_>();
    const HRESULT hr = start(handle->run);
    if (SUCCEEDED(hr)) *run = handle.release();
    return hr;
  });
}

qc::ObjectType Type(INT type) { return static_cast<qc::ObjectType>(type); }

}  // namespace

extern "C" {

HRESULT WINAPI QuorvelGetVersion(DWORD* major, DWORD* minor, DWORD* patch) {
  if (!major || !minor || !patch) return E_POINTER;
  *major = QUORVEL_VERSION_MAJOR;
  *minor = QUORVEL_VERSION_MINOR;
  *patch = QUORVEL_VERSION_PATCH;
  return S_OK;
}

HRESULT WINAPI QuorvelLocate(LPWSTR* path, LPWSTR* reason) {
  if (!path || !reason) return E_POINTER;
  *path = *reason = nullptr;
  return Guard([&] {
    const qc::Location location = qc::LocateHelper();
    qc::CoTaskMemString where = Copy(location.reason), found;
    if (!location.path.empty()) found = Copy(location.path);
    if (!where || (!location.path.empty() && !found)) return E_OUTOFMEMORY;
    *reason = where.release();
    *path = found.release();
    return location.path.empty() ? S_FALSE : S_OK;
  });
}

HRESULT WINAPI QuorvelRunPropertySheet(LPCWSTR helperPath, LPCWSTR adsPath, QUORVEL_OUTCOME* outcome) {
  return Blocking(outcome, [&] { return qc::RunPropertySheet(Text(helperPath), Text(adsPath)); });
}

HRESULT WINAPI QuorvelRunCreateWizard(LPCWSTR helperPath, LPCWSTR containerDN, INT type, QUORVEL_OUTCOME* outcome) {
  return Blocking(outcome, [&] { return qc::RunCreateWizard(Text(helperPath), Text(containerDN), Type(type)); });
}

HRESULT WINAPI QuorvelStartPropertySheet(HWND window, UINT message, LPCWSTR helperPath, LPCWSTR adsPath,
                                         QUORVEL_RUN* run) {
  return Starting(run, [&](qc::Run& r) {
    return qc::StartPropertySheet(window, message, Text(helperPath), Text(adsPath), r);
  });
}

HRESULT WINAPI QuorvelStartCreateWizard(HWND window, UINT message, LPCWSTR helperPath, LPCWSTR containerDN, INT type,
                                        QUORVEL_RUN* run) {
  return Starting(run, [&](qc::Run& r) {
    return qc::StartCreateWizard(window, message, Text(helperPath), Text(containerDN), Type(type), r);
  });
}

HRESULT WINAPI QuorvelGetRunId(QUORVEL_RUN run, UINT_PTR* id) {
  if (!id) return E_POINTER;
  *id = run ? run->run.Id() : 0;
  return run ? S_OK : E_HANDLE;
}

HRESULT WINAPI QuorvelCloseRun(QUORVEL_RUN run) {
  delete run;  // ~Run abandons a run still going; its thread keeps this DLL loaded until it ends
  return S_OK;
}

HRESULT WINAPI QuorvelTakeOutcome(LPARAM lParam, QUORVEL_OUTCOME* outcome) {
  if (!lParam) return E_INVALIDARG;
  if (!outcome) return E_POINTER;
  if (!Usable(outcome)) return E_INVALIDARG;
  // Adopted only once filled: a failed call leaves the lParam the caller's, to try again.
  const HRESULT hr = Guard([&] { return Fill(*reinterpret_cast<const qc::Outcome*>(lParam), *outcome); });
  if (SUCCEEDED(hr)) static_cast<void>(qc::TakeOutcome(lParam));
  return hr;
}

HRESULT WINAPI QuorvelFreeOutcome(QUORVEL_OUTCOME* outcome) {
  if (!outcome) return E_POINTER;
  if (!Usable(outcome)) return E_INVALIDARG;
  FreeStrings(*outcome);
  return S_OK;
}

HRESULT WINAPI QuorvelFree(LPWSTR text) {
  ::CoTaskMemFree(text);
  return S_OK;
}

}  // extern "C"
