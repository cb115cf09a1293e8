#pragma once
// The one way Windows headers come in: a lean <windows.h> that targets Windows 10 and leaves
// std::min and std::max alone, with the wide (W) forms of every macro. mingw-w64 predefines an
// older _WIN32_WINNT, so it is reset first.

#ifdef _WIN32_WINNT
#undef _WIN32_WINNT
#endif
#define _WIN32_WINNT 0x0A00
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef UNICODE
#define UNICODE
#endif
#ifndef _UNICODE
#define _UNICODE
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
