// What Windows makes of a name that a server sends, apart from its meaning as a path: names that
// open a device instead of a file, streams, and names that it shortens. Plain text rules on the
// decoded name, shared so that every platform's tests check them.
#pragma once

#include <string_view>

namespace qm::store {

// True when Windows would not take `component` (one path component, decoded) for a file of that
// name: a reserved device name (CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM0 to COM9, LPT0 to LPT9,
// and COM and LPT with a superscript 1, 2 or 3), in any case, alone or with an extension or
// blanks before it; a stream (any ':'); a name ending in a dot or a blank, which Windows drops;
// a character that Windows refuses in names (< > " | ? * and control characters).
bool IsHazardousWindowsComponent(std::wstring_view component);

}  // namespace qm::store
