// HandsetControl: runs the debug-bridge program and checks that a handset is reachable.
// The bridge is "adb" from PATH, or the program named by KXPHONE_ADB. Commands run with an
// argument vector, never through a shell. Safe from any thread.
#pragma once

#include <cstdint>

#define KX_HC_EXPORT extern "C" __attribute__((visibility("default")))

// Runs the bridge with the blank-separated arguments in command (length UTF-16 units). Waits
// at most timeoutMs, kills the program past that. 0 only when it ran and exited with 0;
// otherwise its non-zero exit code, or -1 it could not be started (or its end could not be
// observed: SIGCHLD ignored by the host), -2 time-out (killed),
// -3 ended by a signal, -4 no arguments.
KX_HC_EXPORT int32_t KX_RunAdbCmd(const char16_t* command, int32_t length, void* reserved, int32_t flags,
                                  int32_t timeoutMs);

// Checks that the handset with this serial is attached ("get-state" answers "device") and
// re-creates the forward of localPort to devicePort, all within timeoutMs. 0 when ready;
// otherwise a code as for KX_RunAdbCmd, -4 for a missing serial or a port out of range, -5
// when the handset is in another state.
KX_HC_EXPORT int32_t KX_CheckPhoneReady(const char* serial, int32_t localPort, int32_t devicePort, int32_t a,
                                        int32_t b, int32_t timeoutMs);
