// STUB: the Win32 side is being written; every call reports E_NOTIMPL for now.
#include "client_rules.h"

namespace quorvel::client {

struct Run::State {};

Run::~Run() = default;
Run::Run(Run&&) noexcept = default;
Run& Run::operator=(Run&&) noexcept = default;
UINT_PTR Run::Id() const noexcept { return 0; }
void Run::Abandon() noexcept { state_.reset(); }

Outcome RunPropertySheet(std::wstring_view, std::wstring_view) { return {Result::Error, E_NOTIMPL, L"not yet", {}}; }
Outcome RunCreateWizard(std::wstring_view, std::wstring_view, ObjectType) {
  return {Result::Error, E_NOTIMPL, L"not yet", {}};
}
HRESULT StartPropertySheet(HWND, UINT, std::wstring_view, std::wstring_view, Run&) { return E_NOTIMPL; }
HRESULT StartCreateWizard(HWND, UINT, std::wstring_view, std::wstring_view, ObjectType, Run&) { return E_NOTIMPL; }
std::unique_ptr<Outcome> TakeOutcome(LPARAM lParam) { return std::unique_ptr<Outcome>(reinterpret_cast<Outcome*>(lParam)); }

}  // namespace quorvel::client
