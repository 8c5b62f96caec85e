#ifndef PGC_HEADER_UTILS_H
#define PGC_HEADER_UTILS_H

#endif
