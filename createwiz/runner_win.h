// The creation wizard job.
#pragma once

#include "platform/wintypes.h"

#include <objbase.h>
#include <oleauto.h>
#include <iads.h>

#include <cstdint>
#include <string>

namespace quorvel {

// Runs the platform's creation wizard for a new object of `objectType` in the
// container `containerDN`; returns the outcome as an HRESULT. On success the new
// object's names are on the clipboard under "tarnwick.adcreateobjwiz.clip".
HRESULT RunCreateObjectWizard(const wchar_t* containerDN, std::int32_t objectType,
                              const wchar_t* thirdArgument);

// Shared by the runner and its worker without a lock: the worker writes it before
// it ends, the runner reads it after the wait.
struct CreateObjWizardParams {
  std::int32_t objectType = 0;
  IADs** newObjectOut = nullptr;
  HWND parentWindow = nullptr;
  std::wstring containerPath;
  std::wstring thirdArgument;  // kept for the caller; nothing reads it
  HRESULT result = S_OK;
};

// The worker: its own apartment, the bind, the wizard. The outcome is in `result`.
DWORD WINAPI CreateObjWizardThread(void* params);

// Starts the worker; a null handle with the thread's last error set is failure.
// Replaceable so that tests can make thread creation fail.
using StartWorkerFn = HANDLE (*)(LPTHREAD_START_ROUTINE routine, void* parameter);

HRESULT RunCreateObjectWizardWith(StartWorkerFn startWorker, const wchar_t* containerDN,
                                  std::int32_t objectType, const wchar_t* thirdArgument);

}  // namespace quorvel
