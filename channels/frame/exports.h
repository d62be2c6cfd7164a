#pragma once
// Every export of the library with its exact type, one line each: the one
// place a signature lives. The definitions include this header, so the
// compiler holds them to it; Lumarel.def and mql4/Include/Lumarel.mqh are
// checked against it by check_exports.py. Each export answers through
// `guarded` (guard.h) with the fallback named beside it here.

// Exports take and return 32-bit ints and 8-bit text pointers, stdcall, under
// plain names (the module-definition file and --kill-at drop the @N).
#define LUMAREL_EXPORT extern "C"
#define LUMAREL_API __stdcall

// clang-format off
LUMAREL_EXPORT long long LUMAREL_API TimeUTC() noexcept;                                           // cannot fail
LUMAREL_EXPORT int LUMAREL_API SetupTimedTicks(int window, int interval) noexcept;                  // 0
LUMAREL_EXPORT int LUMAREL_API RemoveTimedTicks(int handle) noexcept;                               // 0
LUMAREL_EXPORT int LUMAREL_API LM_StartSender(const char* channel) noexcept;                        // 0
LUMAREL_EXPORT int LUMAREL_API LM_ReleaseSender(int handle) noexcept;                               // 0
LUMAREL_EXPORT int LUMAREL_API LM_SendMessage(int handle, const char* message, int flags) noexcept; // 0
LUMAREL_EXPORT int LUMAREL_API LM_StartReceiver(const char* channel, int window) noexcept;          // 0
LUMAREL_EXPORT int LUMAREL_API LM_ReleaseReceiver(int handle) noexcept;                             // 0
LUMAREL_EXPORT const char* LUMAREL_API LM_GetMessages(int handle) noexcept;                         // null
LUMAREL_EXPORT int LUMAREL_API LM_CheckChannel(const char* channel) noexcept;                       // -2
LUMAREL_EXPORT int LUMAREL_API LM_ChannelHasReceiver(const char* channel) noexcept;                 // -2
LUMAREL_EXPORT int LUMAREL_API LM_StartReceiveInternetMessages(int window, int server, const char* channel, const char* user, const char* password, int option) noexcept;  // 0
LUMAREL_EXPORT int LUMAREL_API LM_EndReceiveInternetMessages(int handle) noexcept;                  // 0
LUMAREL_EXPORT const char* LUMAREL_API LM_QueryInternetMessages(int handle) noexcept;               // ""
LUMAREL_EXPORT int LUMAREL_API LM_IsInternetReceiverActive(int handle) noexcept;                    // -1
LUMAREL_EXPORT int LUMAREL_API LM_GetLastInternetReceiveError(int handle) noexcept;                 // -1
LUMAREL_EXPORT int LUMAREL_API LM_StartSendInternetMessages(int window, int server, const char* channel, const char* user, const char* password, int option) noexcept;     // 0
LUMAREL_EXPORT int LUMAREL_API LM_SendInternetMessage(int handle, char* message) noexcept;          // -1
LUMAREL_EXPORT int LUMAREL_API LM_EndSendInternetMessages(int handle) noexcept;                     // 0
LUMAREL_EXPORT int LUMAREL_API LM_IsInternetSendSessionTerminated(int handle) noexcept;             // -1
LUMAREL_EXPORT int LUMAREL_API LM_GetLastInternetSendError(int handle) noexcept;                    // -1
// clang-format on
