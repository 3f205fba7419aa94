// WinUnit: the drop-target window. The desktop front end is not built yet,
// so the program started without arguments reports that it has no window.
#include "WinUnit.h"

TWindow CreateMainWindow()
{
    return NoWindow;
}
