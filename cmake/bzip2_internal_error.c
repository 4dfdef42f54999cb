/* The library's internal consistency checks end here when it is built without its file
   functions (BZ_NO_STDIO). Such a failure is a fault of the library, not of the data it
   reads: the program cannot go on trusting its output. */
#include <stdlib.h>

void bz_internal_error(int code)
{
    (void)code;
    abort();
}
