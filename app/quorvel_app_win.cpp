#include "app/quorvel_app.h"

#include "app/dispatch.h"
#include "app/jobs_win.h"
#include "platform/win/com_ptr.h"

#include <cwchar>
#include <string_view>

namespace quorvel {

BOOL CQuorvelApp::InitInstance() {
  exitStatus_ = 0;
  // The framework's control container has no counterpart here: no window of ours
  // hosts ActiveX controls, and the pages bring their own.
  {
    const ComApartment apartment;
    WindowsJobs jobs(m_hInstance);
    const std::u16string_view tail(reinterpret_cast<const char16_t*>(m_lpCmdLine),
                                   std::wcslen(m_lpCmdLine));
    exitStatus_ = DispatchCommand(tail, jobs);
  }
  return FALSE;
}

int CQuorvelApp::ExitInstance() { return exitStatus_; }

}  // namespace quorvel
