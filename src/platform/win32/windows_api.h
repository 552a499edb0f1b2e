// <windows.h> for the Win32 back-end, without the A/W name macros that
// collide with the services' own method names (TextOut, CreateService, ...).
// The back-end calls the A functions by their full names.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
// <windows.h> must come before <mmsystem.h>.
// clang-format off
#include <windows.h>
#include <mmsystem.h>
// clang-format on

#undef TextOut
#undef CreateService
#undef OpenService
#undef StartService
#undef OpenSCManager
