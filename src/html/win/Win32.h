// <windows.h> without its IDOK and IDCANCEL macros, which would rename
// CHtmlBaseDlg's constants of the same names (and the same values) in every
// file that sees both.
#pragma once

#include <windows.h>

#undef IDOK
#undef IDCANCEL
