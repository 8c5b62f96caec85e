/* The image library: frame readers, display levels, header and file
 * utilities, coordinate, time and wavelet routines.
 *
 * Every routine has C linkage. Routines whose names end in '_' follow the
 * Fortran convention: every argument by reference, file names as blank-padded
 * character arrays; Fortran's hidden length arguments are ignored.
 *
 * This header is the C interface alone: it compiles as C99 and as C++ at
 * any standard. The library's C++ internals stay in its own headers. */
#ifndef PGC_PGC_H
#define PGC_PGC_H

#include "coords.h"
#include "header_utils.h"
#include "levels.h"
#include "readers.h"

#endif
