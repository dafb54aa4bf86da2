/* quorvel_client.dll: the client for consoles not written in C++ (C, C#, Delphi, VB).
 *
 * Every function is __stdcall (WINAPI), exported under its plain name on x86 and
 * x86-64 alike (quorvel_client.def), returns an HRESULT and gives its results through
 * out-parameters. Nothing throws across the boundary.
 *
 * Strings handed out are allocated with CoTaskMemAlloc: free a single one with
 * QuorvelFree (or CoTaskMemFree, Marshal.FreeCoTaskMem), an outcome's with
 * QuorvelFreeOutcome. Strings passed in are only read during the call; NULL counts
 * as empty.
 *
 * The runs behave as the C++ API's (quorvel_client.h): the blocking calls keep the
 * calling thread's messages going; the Start calls post `message` to `window` when
 * the run ends, wParam the run's id and lParam its outcome, to be taken exactly once
 * with QuorvelTakeOutcome. */
#ifndef QUORVEL_CLIENT_C_H
#define QUORVEL_CLIENT_C_H

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

/* QUORVEL_OUTCOME.result */
#define QUORVEL_UNCHANGED 0             /* the sheet closed without a change */
#define QUORVEL_CHANGED 1               /* a page applied a change */
#define QUORVEL_BIND_FAILED 2           /* code: the bind's HRESULT */
#define QUORVEL_CREATED 3               /* the names are this run's */
#define QUORVEL_CREATED_NAMES_UNKNOWN 4 /* created; no record of this run could be read */
#define QUORVEL_CANCELLED 5
#define QUORVEL_FAILED 6                /* code: the wizard's or the directory's HRESULT */
#define QUORVEL_REFUSED 7               /* an argument was refused */
#define QUORVEL_ERROR 8                 /* the library's own failure; code says why */

/* QuorvelRunCreateWizard's type */
#define QUORVEL_USER 0
#define QUORVEL_GROUP 1
#define QUORVEL_COMPUTER 2

/* Set cbSize to sizeof(QUORVEL_OUTCOME) before a call. A call that fills it overwrites
 * the pointers: free an outcome before it is filled again. Pointers are NULL, or
 * strings from CoTaskMemAlloc; the names are set for QUORVEL_CREATED only. */
typedef struct QUORVEL_OUTCOME {
  DWORD cbSize;
  INT result;
  HRESULT code;
  LPWSTR reason; /* one sentence for a status line or a log, always set */
  LPWSTR distinguishedName;
  LPWSTR name;
  LPWSTR samAccountName;
} QUORVEL_OUTCOME;

/* An asynchronous run. */
typedef struct QUORVEL_RUN_* QUORVEL_RUN;

/* The client's version, that of the release (1.0.0 gives 1, 0, 0). */
HRESULT WINAPI QuorvelGetVersion(DWORD* major, DWORD* minor, DWORD* patch);

/* Finds quorvel.exe: beside the process's program, beside quorvel_client.dll, then in
 * the folder the installer recorded (HKLM\SOFTWARE\Quorvel InstallDir, 64-bit view).
 * S_OK: *path is set. S_FALSE: not found, *path is NULL. Either way *reason says where
 * it was found or why not. */
HRESULT WINAPI QuorvelLocate(LPWSTR* path, LPWSTR* reason);

/* Blocking runs: S_OK once quorvel.exe has ended and *outcome is filled (a refusal
 * and the library's own failure are outcomes too); E_POINTER or E_INVALIDARG for a
 * bad outcome pointer or cbSize; E_OUTOFMEMORY. */
HRESULT WINAPI QuorvelRunPropertySheet(LPCWSTR helperPath, LPCWSTR adsPath, QUORVEL_OUTCOME* outcome);
HRESULT WINAPI QuorvelRunCreateWizard(LPCWSTR helperPath, LPCWSTR containerDN, INT type,
                                      QUORVEL_OUTCOME* outcome);

/* Asynchronous runs: S_OK when the run started or its refusal or failure was posted,
 * *run then set (close it with QuorvelCloseRun); E_HANDLE when window is not a window
 * of this process; otherwise nothing is posted and *run is NULL. The final message is
 * tried again for about five seconds while the queue is full; if it still fails, no
 * message comes (see quorvel_client.h). */
HRESULT WINAPI QuorvelStartPropertySheet(HWND window, UINT message, LPCWSTR helperPath, LPCWSTR adsPath,
                                         QUORVEL_RUN* run);
HRESULT WINAPI QuorvelStartCreateWizard(HWND window, UINT message, LPCWSTR helperPath, LPCWSTR containerDN,
                                        INT type, QUORVEL_RUN* run);
/* The wParam its message will carry. */
HRESULT WINAPI QuorvelGetRunId(QUORVEL_RUN run, UINT_PTR* id);
/* Frees the handle. A run still going is let go: no message is posted after this
 * returns, and quorvel.exe is never ended. The run's thread may finish a step after
 * it and keeps this DLL loaded until it ends. */
HRESULT WINAPI QuorvelCloseRun(QUORVEL_RUN run);
/* The outcome of a run's message, from its lParam; each lParam exactly once, also for
 * a run already closed. The arguments are checked first: on any failure (E_POINTER,
 * E_INVALIDARG for a NULL lParam or too small a cbSize, E_OUTOFMEMORY) *outcome is
 * left as it was and the lParam stays the caller's, to be taken again. */
HRESULT WINAPI QuorvelTakeOutcome(LPARAM lParam, QUORVEL_OUTCOME* outcome);

/* Frees an outcome's strings and sets them to NULL; cbSize stays. */
HRESULT WINAPI QuorvelFreeOutcome(QUORVEL_OUTCOME* outcome);
/* Frees one string this library handed out; NULL is fine. */
HRESULT WINAPI QuorvelFree(LPWSTR text);

#ifdef __cplusplus
}
#endif

#endif /* QUORVEL_CLIENT_C_H */
