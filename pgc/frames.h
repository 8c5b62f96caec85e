#ifndef PGC_FRAMES_H
#define PGC_FRAMES_H

#endif
