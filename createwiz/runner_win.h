// The creation wizard job.
#pragma once

#include "createwiz/create_result.h"
#include "platform/wintypes.h"

#include <objbase.h>
#include <oleauto.h>
#include <iads.h>

#include <cstdint>
#include <string>
#include <string_view>

struct IDsAdminCreateObj;

namespace quorvel {

// Runs the platform's creation wizard for a new object of `objectType` in the
// container `containerDN`; returns the outcome as an HRESULT. On success the new
// object's names are on the clipboard under "tarnwick.adcreateobjwiz.clip" and,
// when `thirdArgument` is not empty, with it under "tarnwick.adcreateobjwiz.run".
HRESULT RunCreateObjectWizard(const wchar_t* containerDN, std::int32_t objectType,
                              const wchar_t* thirdArgument);

// Shared by the runner and its worker without a lock: the worker writes it before
// it ends, the runner reads it after the wait.
struct CreateObjWizardParams {
  std::int32_t objectType = 0;
  IADs** newObjectOut = nullptr;
  HWND parentWindow = nullptr;
  std::wstring containerPath;
  std::wstring thirdArgument;  // the console's name for its run, published beside the record
  HRESULT result = S_OK;
};

// The worker: its own apartment, the bind, the wizard. The outcome is in `result`.
DWORD WINAPI CreateObjWizardThread(void* params);

// The two objects the worker gets from the platform: the container, bound by its
// path, and the wizard component. Replaceable so that tests can hand the worker
// fakes of both.
struct CreateWizardPlatform {
  HRESULT (*bindContainer)(const wchar_t* path, IADsContainer** container);
  HRESULT (*createWizard)(IDsAdminCreateObj** wizard);
};

// ADsGetObject and CoCreateInstance of the directory creation wizard.
const CreateWizardPlatform& PlatformCreateWizard();

// The worker's whole body, run on the calling thread: CreateObjWizardThread is this
// with the platform's objects.
void RunCreateObjWizardWorker(CreateObjWizardParams& params, const CreateWizardPlatform& platform);

// Starts the worker; a null handle with the thread's last error set is failure.
// Replaceable so that tests can make thread creation fail.
using StartWorkerFn = HANDLE (*)(LPTHREAD_START_ROUTINE routine, void* parameter);

// The calls that publish the record, replaceable so that tests can make each of
// them fail.
struct ClipboardCalls {
  UINT (*registerFormat)(const wchar_t* name);
  HGLOBAL (*alloc)(UINT flags, SIZE_T bytes);
  BOOL (*open)(HWND owner);
  HANDLE (*set)(UINT format, HANDLE block);
  BOOL (*close)();
};
const ClipboardCalls& PlatformClipboard();

// Puts the record on the clipboard under its registered format, without emptying
// it first, and, when the third argument is not empty and the record was taken, the
// run's copy under the second format in the same transaction. Reports nothing; a
// block the clipboard did not take is freed.
void PublishRecord(const CreateObjResultRecord& record, std::u16string_view thirdArgument,
                   const ClipboardCalls& calls);

HRESULT RunCreateObjectWizardWith(StartWorkerFn startWorker, const wchar_t* containerDN,
                                  std::int32_t objectType, const wchar_t* thirdArgument);

}  // namespace quorvel
