#pragma once

#include <cstddef>

// Undoes PNG filter f (0 None, 1 Sub, 2 Up, 3 Average, 4 Paeth) of one row of n bytes, bpp a
// pixel: out = in + prediction from out's left pixels and prev, the row above unfiltered (null
// for the first row). in and out may be the same row. False for a filter the format lacks.
// 3 and 4 bytes a pixel take vector forms where the machine has them.
bool UnfilterRow(int f, const unsigned char* in, unsigned char* out, const unsigned char* prev, std::size_t n, int bpp);

// Two rows in a row both filtered with Paeth, 4 bytes a pixel, undone together: the second
// row trails the first by a pixel, so its pixels ride in the same registers and the two
// chains of left pixels run side by side. prev is the row above the first (null for none);
// in0 may be out0 and in1 out1.
void UnfilterPaethPair(const unsigned char* in0, const unsigned char* in1, unsigned char* out0, unsigned char* out1,
                       const unsigned char* prev, std::size_t n);

// Rows (up to 8) in a row filtered with Paeth, undone together the same way, each trailing
// the one before by a pixel, where the processor has AVX2; false, with nothing done, elsewhere
// (the caller then takes pairs). in[k] may be out[k].
bool UnfilterPaethRows(const unsigned char* const in[], unsigned char* const out[], int rows, const unsigned char* prev, std::size_t n);
