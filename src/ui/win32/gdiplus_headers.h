#pragma once
// <windows.h> and GDI+ as the toolkit uses them. MinGW's GDI+ headers call min and max
// unqualified, and NOMINMAX (set for every Windows build) removes the macros they expect;
// WIN32_LEAN_AND_MEAN leaves out the COM types (PROPID) they use.

#include "ui/win32/windows_headers.h"
// The COM types before GDI+.
#include <objidl.h>

#include <algorithm>
using std::max;
using std::min;
#include <gdiplus.h>
