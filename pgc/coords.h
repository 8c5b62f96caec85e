#ifndef PGC_COORDS_H
#define PGC_COORDS_H

#endif
