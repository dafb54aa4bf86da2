// A snap-in's DLL as a console loads and unloads it: it links the client's static
// library, and does not pin itself as quorvel_client.dll once did.
#include "quorvel_client.h"

namespace {
quorvel::client::Run g_run;
}

extern "C" __declspec(dllexport) HRESULT SnapinStartWizard(HWND window, const wchar_t* helper) {
  return quorvel::client::StartCreateWizard(window, WM_APP, helper, L"OU=a", quorvel::client::ObjectType::User, g_run);
}

extern "C" __declspec(dllexport) void SnapinAbandon() { g_run.Abandon(); }
