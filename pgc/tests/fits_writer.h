// Test frames written by an independent FITS writer (cfitsio), with the
// header padded to the number of blocks the readers are to meet.
#pragma once

#include <fitsio.h>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

namespace pgctest {

struct FitsFrame {
    long nx = 0, ny = 0;
    int bitpix = 16;        // cfitsio image type: USHORT_IMG, SHORT_IMG, FLOAT_IMG, ...
    int datatype = TUSHORT; // type of the values passed in
    const void* values = nullptr;
    std::optional<double> bzero;  // written as a keyword after the data, no scaling
    int header_blocks = 2;        // pad with comments so END lands in this block
    int bzero_after_comments = 0; // comments written before the BZERO card
};

// Writes the frame and returns the byte offset of its data.
inline long long write_fits(const std::string& path, const FitsFrame& fr) {
    int status = 0;
    fitsfile* f = nullptr;
    fits_create_file(&f, ("!" + path).c_str(), &status);
    long naxes[2] = {fr.nx, fr.ny};
    fits_create_img(f, fr.bitpix, 2, naxes, &status);
    fits_write_img(f, fr.datatype, 1, fr.nx * fr.ny, const_cast<void*>(fr.values), &status);
    for (int i = 0; i < fr.bzero_after_comments; ++i) fits_write_comment(f, "pad", &status);
    if (fr.bzero) {
        double z = *fr.bzero;
        fits_write_key(f, TDOUBLE, "BZERO", &z, nullptr, &status);
    }
    int keys = 0, more = 0;
    fits_get_hdrspace(f, &keys, &more, &status);
    // keys + END must end inside the wanted block.
    while (keys + 1 <= (fr.header_blocks - 1) * 36) {
        fits_write_comment(f, "padding the header", &status);
        ++keys;
    }
    LONGLONG head = 0, data = 0, end = 0;
    fits_get_hduaddrll(f, &head, &data, &end, &status);
    fits_close_file(f, &status);
    EXPECT_EQ(status, 0) << "cfitsio failed writing " << path;
    return data;
}

} // namespace pgctest
