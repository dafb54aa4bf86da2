// quorvel_client_types.h: the client's vocabulary that needs no Windows, shared by
// quorvel_client.h and the client's portable rules.
#pragma once

namespace quorvel::client {

// The object the creation wizard makes; the values are quorvel.exe's.
enum class ObjectType : int { User = 0, Group = 1, Computer = 2 };

enum class Result : int {
  // The property sheet.
  Unchanged,   // closed without a change (exit 0)
  Changed,     // a page applied a change (exit 1)
  BindFailed,  // the object could not be bound; code is the bind's HRESULT
  // The creation wizard.
  Created,              // created; created holds the names this run published. code is 0, or
                        // the failure of reading a name (that name is then empty)
  CreatedNamesUnknown,  // created (exit 0), but no record of this run could be read
  Cancelled,            // the person cancelled (exit 1)
  Failed,               // the wizard, or the directory, failed; code is its HRESULT
  // Either job.
  Refused,  // an argument was refused, by the library before any start or by quorvel.exe
            // itself (exit 87); code is E_INVALIDARG either way, the reason says which
  Error,    // the library's own failure (helper missing, CreateProcessW, a thread, memory), or
            // quorvel.exe ended abnormally (crashed); code says why
};

}  // namespace quorvel::client
