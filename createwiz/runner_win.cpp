#include "createwiz/runner_win.h"

namespace quorvel {

// The wizard runner is not built yet: the job reports that it is not available.
HRESULT RunCreateObjectWizard(const wchar_t*, std::int32_t, const wchar_t*) { return E_NOTIMPL; }

}  // namespace quorvel
