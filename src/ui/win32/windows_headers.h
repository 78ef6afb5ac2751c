#pragma once
// <windows.h> for the toolkit. Its DrawText macro (DrawTextA/W) would rename the toolkit's own
// DrawText in some files and not in others, so it is taken away right here.

#include <windows.h>
#undef DrawText
