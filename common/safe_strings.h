// Bounded strings only. Include this after every system header of a source
// file: strsafe.h's deprecations turn strcpy, strcat, sprintf, lstrcpy,
// wsprintf and their kin into compile errors, and the poison below covers
// what they leave out.
#pragma once

#include <strsafe.h>

#ifdef STRSAFE_NO_DEPRECATE
#error "the unsafe string functions must stay deprecated"
#endif

#pragma GCC poison strncpy strncat strtok strtok_r
#pragma GCC poison lstrcpynA lstrcpynW
