// Requests from a page for the sheet of another directory object.
#pragma once

#include "platform/wintypes.h"

namespace quorvel {

class CADObjectPropertyWnd;

// The version query, replaceable so that tests can take every road.
using VersionQuery = BOOL (*)(OSVERSIONINFOW* info);
VersionQuery SetVersionQueryForTesting(VersionQuery query);

// Brings the received block into the layout this Windows version expects. S_OK:
// `out` is the block to use (on 5.0 a new one, the received one freed).
HRESULT AdaptSecPageInfo(HLOCAL received, HLOCAL* out);
void OpenSecondarySheet(CADObjectPropertyWnd* requester, HLOCAL block);
// The whole request: adapt, open, and free the block exactly once.
void HandleSecondarySheetRequest(CADObjectPropertyWnd* requester, HLOCAL block);

}  // namespace quorvel
