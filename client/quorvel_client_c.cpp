// quorvel_client.dll: the C interface over the C++ client. Only plain types cross;
// every string handed out comes from CoTaskMemAlloc, which every language's runtime
// on Windows knows how to free.
#include "quorvel_client_c.h"

#include "quorvel_client.h"

#include <objbase.h>

#include <cstring>
#include <new>

struct QUORVEL_RUN_ {
  quorvel::client::Run run;
};

namespace {

namespace qc = quorvel::client;

LPWSTR Copy(const std::wstring& text) {
  const std::size_t bytes = (text.size() + 1) * sizeof(wchar_t);
  auto* copy = static_cast<LPWSTR>(::CoTaskMemAlloc(bytes));
  if (copy) std::memcpy(copy, text.c_str(), bytes);
  return copy;
}

void FreeStrings(QUORVEL_OUTCOME& out) {
  for (LPWSTR* text : {&out.reason, &out.distinguishedName, &out.name, &out.samAccountName}) {
    ::CoTaskMemFree(*text);
    *text = nullptr;
  }
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

HRESULT Fill(const qc::Outcome& outcome, QUORVEL_OUTCOME& out) {
  out.result = CResult(outcome.result);
  out.code = outcome.code;
  out.reason = Copy(outcome.reason);
  out.distinguishedName = out.name = out.samAccountName = nullptr;
  bool complete = out.reason != nullptr;
  if (outcome.result == qc::Result::Created) {
    out.distinguishedName = Copy(outcome.created.distinguishedName);
    out.name = Copy(outcome.created.name);
    out.samAccountName = Copy(outcome.created.samAccountName);
    complete = complete && out.distinguishedName && out.name && out.samAccountName;
  }
  if (complete) return S_OK;
  FreeStrings(out);
  return E_OUTOFMEMORY;
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

// A run's thread can outlive the call (a run let go, a blocking wait given up at
// WM_QUIT): the DLL stays loaded for the process's life once a run has started, so
// that a FreeLibrary cannot pull the code from under it.
void Pin() {
  HMODULE self = nullptr;
  ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(&Pin), &self);
}

template <typename F>
HRESULT Blocking(QUORVEL_OUTCOME* outcome, F&& run) noexcept {
  if (!outcome) return E_POINTER;
  if (!Usable(outcome)) return E_INVALIDARG;
  Pin();
  return Guard([&] { return Fill(run(), *outcome); });
}

template <typename F>
HRESULT Starting(QUORVEL_RUN* run, F&& start) noexcept {
  if (!run) return E_POINTER;
  *run = nullptr;
  Pin();
  return Guard([&] {
    auto* handle = new QUORVEL_RUN_;
    const HRESULT hr = start(handle->run);
    if (FAILED(hr)) delete handle;
    else *run = handle;
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
    *reason = Copy(location.reason);
    if (!location.path.empty()) *path = Copy(location.path);
    if (!*reason || (!location.path.empty() && !*path)) {
      ::CoTaskMemFree(*reason);
      ::CoTaskMemFree(*path);
      *path = *reason = nullptr;
      return E_OUTOFMEMORY;
    }
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
  delete run;  // ~Run abandons a run still going
  return S_OK;
}

HRESULT WINAPI QuorvelTakeOutcome(LPARAM lParam, QUORVEL_OUTCOME* outcome) {
  if (!lParam) return E_INVALIDARG;
  const std::unique_ptr<qc::Outcome> taken = qc::TakeOutcome(lParam);
  if (!outcome) return E_POINTER;
  if (!Usable(outcome)) return E_INVALIDARG;
  return Guard([&] { return Fill(*taken, *outcome); });
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
