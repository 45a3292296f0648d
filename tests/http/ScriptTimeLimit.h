#pragma once

// Whether a script that never ends can be cut off here. The engine stops a running script
// with a signal, which the thread sanitizer holds back until the script calls out.
#if defined(__SANITIZE_THREAD__)
inline constexpr bool ScriptsCanBeCutOff = false;
#else
inline constexpr bool ScriptsCanBeCutOff = true;
#endif
