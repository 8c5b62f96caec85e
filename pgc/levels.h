#ifndef PGC_LEVELS_H
#define PGC_LEVELS_H

#endif
