// The Win32 calls of the plug-in: the system's own on Windows, the POSIX stand-in
// (Win32StandIn.h) elsewhere. Code that includes this header is written against the
// Win32 names and compiles unchanged on both.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include "platform/Win32StandIn.h"
#endif
