// The operating system's own calls beneath Platform.cpp, listed in
// SystemCalls.inc. Each operating system implements every one of them once,
// in platform::os (posix/PosixSystem.cpp, windows/WindowsSystem.cpp), and
// calls nothing of the shared code: the calls run one way, from Platform.cpp
// down to here. A port to another system implements this list and nothing
// else. Only the platform layer and the tests' faulty system include it.
//
// Where a function here does what one of Platform.h does, Platform.h states
// the contract, and only what differs is said here. Each function does one
// small job with as few system calls as it takes, and retries only where
// its comment says so.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Handles.h"
#include "platform/LeadBytes.h"

namespace platform::os {
#include "platform/SystemCalls.inc"
}  // namespace platform::os

// Platform.cpp calls them as platform::sys. In the program that is the
// operating system itself; in the tests' bronta_faulty it is a faulty system
// that forwards to it, and fails, interrupts or swaps the folder at a chosen
// step (tests/seam/FaultySystem.cpp).
#ifdef BRONTA_FAULT_INJECTION
namespace platform::sys {
#include "platform/SystemCalls.inc"
}  // namespace platform::sys
#else
namespace platform {
namespace sys = os;
}  // namespace platform
#endif
