/* The one export of the library the NEEDSDEP test plug-in imports; it is
 * found only where the plug-in lies. */
#include <windows.h>

__declspec(dllexport) int OrvDepValue(void) { return 42; }
