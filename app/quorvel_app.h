// The application object: one per process, constructed before the entry point runs.
#pragma once

#include "platform/wintypes.h"

#include <cstdint>

namespace quorvel {

class CQuorvelApp {
 public:
  CQuorvelApp() = default;
  virtual ~CQuorvelApp() = default;
  CQuorvelApp(const CQuorvelApp&) = delete;
  CQuorvelApp& operator=(const CQuorvelApp&) = delete;

  // Does the whole job; FALSE so that no message loop of ours runs.
  virtual BOOL InitInstance();
  // The stored exit status, which becomes the process exit code.
  virtual int ExitInstance();

  const wchar_t* m_lpCmdLine = L"";
  HINSTANCE m_hInstance = nullptr;

 private:
  std::int32_t exitStatus_ = 0;
};

}  // namespace quorvel
