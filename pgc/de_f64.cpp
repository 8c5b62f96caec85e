// Preview units of a FITS frame. Kept in a file of its own: the flat-field
// builder carries a variant of the same name.
#include "frames.h"

#include <algorithm>
#include <cmath>

extern "C" void de_f64(short* values, double bzero, int n1, int n2) {
    // The integer part of BZERO as a float; 32767.9 gives 32767. A value no
    // 16-bit frame can use is cut to a range where the sum cannot overflow.
    const float z = static_cast<float>(bzero);
    const int e = std::isnan(z) ? 0 : static_cast<int>(std::clamp(z, -1.0e6f, 1.0e6f));
    const long n = static_cast<long>(n1) * n2;
    for (long i = 0; i < n; ++i) values[i] = static_cast<short>((values[i] + e) >> 1);
}
