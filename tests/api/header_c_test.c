/* The public header compiles on its own as C (its static assertions included). */
#include "kcarlib/nki.h"

unsigned kcarlib_header_c_sizes(void) { return (unsigned)(sizeof(tagTECParams) + sizeof(tagTNKIinfo)); }
