#include "createwiz/runner_win.h"

#include "createwiz/create_result.h"
#include "platform/automation_owners.h"
#include "platform/win/com_ptr.h"
#include "platform/win/unique_handle.h"
#include "platform/win32_error.h"
#include "util/variant_text.h"

#include <initguid.h>  // the wizard's identifiers are in no import library
#include <adshlp.h>
#include <prsht.h>
#include <dsadmin.h>

#include <cstring>
#include <new>
#include <string>

namespace quorvel {
namespace {

HANDLE StartWithCreateThread(LPTHREAD_START_ROUTINE routine, void* parameter) {
  return ::CreateThread(nullptr, 0, routine, parameter, 0, nullptr);
}

HRESULT BindWithADsGetObject(const wchar_t* path, IADsContainer** container) {
  return ::ADsGetObject(path, IID_IADsContainer, reinterpret_cast<void**>(container));
}

HRESULT CreateWithCoCreateInstance(IDsAdminCreateObj** wizard) {
  return ::CoCreateInstance(CLSID_DsAdminCreateObj, nullptr, CLSCTX_INPROC_SERVER, IID_IDsAdminCreateObj,
                            reinterpret_cast<void**>(wizard));
}

HRESULT RunWizardSteps(CreateObjWizardParams& params, const CreateWizardPlatform& platform) {
  ComPtr<IADsContainer> container;
  HRESULT hr = platform.bindContainer(params.containerPath.c_str(), container.put());
  if (FAILED(hr)) return hr;
  ComPtr<IDsAdminCreateObj> wizard;
  hr = platform.createWizard(wizard.put());
  if (FAILED(hr)) return hr;
  const std::u16string className = ClassNameForObjectType(params.objectType);
  hr = wizard->Initialize(container.get(), nullptr, reinterpret_cast<const wchar_t*>(className.c_str()));
  if (FAILED(hr)) return hr;
  if (!params.parentWindow) params.parentWindow = ::GetDesktopWindow();
  // Leaving releases the wizard first, then the container.
  return wizard->CreateModal(params.parentWindow, params.newObjectOut);
}

// The rendering of one attribute, trimmed; empty when the read failed.
std::u16string ReadAttributeText(IADs& object, const wchar_t* attribute, HRESULT& hr) {
  // Both are freed also when rendering runs out of memory.
  const UniqueBstr name(std::u16string_view(reinterpret_cast<const char16_t*>(attribute)));
  if (!name) throw std::bad_alloc();
  UniqueVariant value;
  hr = object.GetEx(name.get(), value.put());
  // A failed read leaves its field zero even if the provider filled the value.
  if (FAILED(hr)) return std::u16string();
  std::u16string text = VariantToText(*value.get());
  text.resize(std::u16string_view(text.c_str()).size());
  return text.empty() ? text : TrimValueText(text);
}

}  // namespace

const ClipboardCalls& PlatformClipboard() {
  static const ClipboardCalls calls{::RegisterClipboardFormatW, ::GlobalAlloc, ::OpenClipboard, ::SetClipboardData,
                                    ::CloseClipboard};
  return calls;
}

namespace {

constexpr int kOpenAttempts = 20;
constexpr DWORD kOpenPauseMs = 50;

// A movable block holding `size` bytes; null when it cannot be allocated or locked.
UniqueHGlobal FilledBlock(const ClipboardCalls& calls, const std::uint8_t* bytes, std::size_t size) {
  UniqueHGlobal block(calls.alloc(GMEM_MOVEABLE, size));
  const GlobalLockScope lock(block.get());
  if (!lock) return UniqueHGlobal();
  std::memcpy(lock.get(), bytes, size);
  return block;
}

}  // namespace

// Nothing here is reported: the job's result is the wizard's and the reads'.
void PublishRecord(const CreateObjResultRecord& record, std::u16string_view thirdArgument,
                   const ClipboardCalls& calls) {
  const UINT format = calls.registerFormat(reinterpret_cast<const wchar_t*>(kCreateObjClipFormat.data()));
  if (format == 0) return;
  // Freed on every road but the one where the clipboard takes it.
  UniqueHGlobal block = FilledBlock(calls, record.bytes.data(), CreateObjResultRecord::kSize);
  if (!block) return;
  // The run's copy is ready before the clipboard opens, so that both go in one
  // transaction. When it cannot be made the record goes alone, as without a third
  // field: the console then finds no copy naming its run.
  const std::vector<std::uint8_t> run = BuildRunRecord(record, thirdArgument);
  const UINT runFormat =
      run.empty() ? 0 : calls.registerFormat(reinterpret_cast<const wchar_t*>(kCreateObjRunFormat.data()));
  UniqueHGlobal runBlock = runFormat ? FilledBlock(calls, run.data(), run.size()) : UniqueHGlobal();
  // Every watching console, clipboard history and remote-desktop redirection open the
  // clipboard right after each change, and a second wizard may be publishing: a
  // clipboard busy for a moment is tried again, for about a second.
  bool open = false;
  for (int attempt = 1; !(open = calls.open(nullptr)) && attempt < kOpenAttempts; ++attempt) ::Sleep(kOpenPauseMs);
  if (!open) return;
  // Not emptied: whatever else the console keeps on the clipboard stays there.
  if (calls.set(format, block.get())) {
    // The clipboard owns the block from here on.
    static_cast<void>(block.release());
    // Only beside a record of this run: the copy alone would announce a publication that did not happen.
    if (runBlock && calls.set(runFormat, runBlock.get())) static_cast<void>(runBlock.release());
  }
  calls.close();
}

const CreateWizardPlatform& PlatformCreateWizard() {
  static const CreateWizardPlatform platform{BindWithADsGetObject, CreateWithCoCreateInstance};
  return platform;
}

void RunCreateObjWizardWorker(CreateObjWizardParams& params, const CreateWizardPlatform& platform) {
  // A failed CoInitialize does not stop the worker; the calls after it fail on their own.
  const ComApartment apartment;
  params.result = MapCreateResult(RunWizardSteps(params, platform));
}

DWORD WINAPI CreateObjWizardThread(void* parameter) {
  RunCreateObjWizardWorker(*static_cast<CreateObjWizardParams*>(parameter), PlatformCreateWizard());
  return 0;
}

HRESULT RunCreateObjectWizardWith(StartWorkerFn startWorker, const wchar_t* containerDN,
                                  std::int32_t objectType, const wchar_t* thirdArgument) {
  IADs* newObject = nullptr;
  CreateObjWizardParams params;
  params.objectType = objectType;
  params.newObjectOut = &newObject;
  params.parentWindow = nullptr;
  // The prefix is added even when the caller already wrote one.
  params.containerPath = std::wstring(L"LDAP://") + (containerDN ? containerDN : L"");
  params.thirdArgument = thirdArgument ? thirdArgument : L"";
  params.result = S_OK;

  const UniqueKernelHandle worker(startWorker(CreateObjWizardThread, &params));
  if (!worker) {
    // Unlike the client's calls, this runner's contract lets a start that failed
    // without a last error report S_OK, as HRESULT_FROM_WIN32(0) does.
    return HResultFromWin32(::GetLastError());
  }
  // No message loop: the wizard's own modal loop runs on the worker.
  ::WaitForSingleObject(worker.get(), INFINITE);
  // The pointer came from the worker's ended apartment and is used here directly.
  const auto object = ComPtr<IADs>::Attach(newObject);

  HRESULT result = params.result;
  // S_OK without an object: nothing to read, nothing to publish.
  if (result != S_OK || !object) return result;

  HRESULT ignored = S_OK;
  const std::u16string dn = ReadAttributeText(*object.get(), L"distinguishedName", ignored);
  const std::u16string name = ReadAttributeText(*object.get(), L"name", ignored);
  const std::u16string account = ReadAttributeText(*object.get(), L"sAMAccountName", result);
  const std::u16string_view third(reinterpret_cast<const char16_t*>(params.thirdArgument.data()),
                                  params.thirdArgument.size());
  PublishRecord(BuildResultRecord(dn, name, account), third, PlatformClipboard());
  return result;
}

HRESULT RunCreateObjectWizard(const wchar_t* containerDN, std::int32_t objectType,
                              const wchar_t* thirdArgument) {
  return RunCreateObjectWizardWith(StartWithCreateThread, containerDN, objectType, thirdArgument);
}

}  // namespace quorvel
