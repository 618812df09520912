#pragma once

// The vector forms of PNG's predictors, shared by the filters of the writer and the reader.
// SSE2 is in every x86-64; elsewhere the callers use their loops of bytes.
#include "imaging/vectorunits.h"

#if defined(__SSE2__)
#include <emmintrin.h>

// floor((a + b) / 2) of each byte: pavgb rounds up, so take back the odd bit.
inline __m128i AverageFloor(__m128i a, __m128i b) {
    return _mm_sub_epi8(_mm_avg_epu8(a, b), _mm_and_si128(_mm_xor_si128(a, b), _mm_set1_epi8(1)));
}

// Paeth's predictor on 8 bytes widened to 16 bits. Among equal distances a wins over b over
// c, as the format asks. |b - c| needs no a, and b or c is chosen beside the test of a, so few
// steps follow a: the decoder's chain from one pixel to the next.
inline __m128i Paeth16(__m128i a, __m128i b, __m128i c) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i bc = _mm_sub_epi16(b, c);
    const __m128i ac = _mm_sub_epi16(a, c);
    const __m128i abc = _mm_add_epi16(ac, bc);
    const __m128i pa = _mm_max_epi16(bc, _mm_sub_epi16(zero, bc));
    const __m128i pb = _mm_max_epi16(ac, _mm_sub_epi16(zero, ac));
    const __m128i pc = _mm_max_epi16(abc, _mm_sub_epi16(zero, abc));
    const __m128i takeC = _mm_cmpgt_epi16(pb, pc);
    const __m128i bOrC = _mm_or_si128(_mm_andnot_si128(takeC, b), _mm_and_si128(takeC, c));
    const __m128i notA = _mm_cmpgt_epi16(pa, _mm_min_epi16(pb, pc));
    return _mm_or_si128(_mm_andnot_si128(notA, a), _mm_and_si128(notA, bOrC));
}

// Paeth's predictor on 16 bytes, in bytes: |b - c| and |a - c| are differences of the larger
// and smaller; |a + b - 2c| is their sum where a and b lie on the same side of c, else their
// difference. A sum past 255 saturates, which changes no comparison, since a sum is never
// below either part.
inline __m128i PaethPredict(__m128i a, __m128i b, __m128i c) {
    const __m128i pa = _mm_sub_epi8(_mm_max_epu8(b, c), _mm_min_epu8(b, c));
    const __m128i pb = _mm_sub_epi8(_mm_max_epu8(a, c), _mm_min_epu8(a, c));
    const __m128i aAbove = _mm_cmpeq_epi8(_mm_max_epu8(a, c), a);
    const __m128i bAbove = _mm_cmpeq_epi8(_mm_max_epu8(b, c), b);
    const __m128i apart = _mm_xor_si128(aAbove, bAbove);
    const __m128i difference = _mm_sub_epi8(_mm_max_epu8(pa, pb), _mm_min_epu8(pa, pb));
    const __m128i pc = _mm_or_si128(_mm_and_si128(apart, difference), _mm_andnot_si128(apart, _mm_adds_epu8(pa, pb)));
    const __m128i takeA = _mm_and_si128(_mm_cmpeq_epi8(_mm_min_epu8(pa, pb), pa), _mm_cmpeq_epi8(_mm_min_epu8(pa, pc), pa));
    const __m128i takeB = _mm_cmpeq_epi8(_mm_min_epu8(pb, pc), pb);
    const __m128i bOrC = _mm_or_si128(_mm_and_si128(takeB, b), _mm_andnot_si128(takeB, c));
    return _mm_or_si128(_mm_and_si128(takeA, a), _mm_andnot_si128(takeA, bOrC));
}
#endif

#if defined(TILVEX_AVX2_PATHS)
// AverageFloor on 32 bytes.
TILVEX_AVX2 inline __m256i AverageFloor32(__m256i a, __m256i b) {
    return _mm256_sub_epi8(_mm256_avg_epu8(a, b), _mm256_and_si256(_mm256_xor_si256(a, b), _mm256_set1_epi8(1)));
}

// Paeth16 on 16 lanes.
TILVEX_AVX2 inline __m256i Paeth16x16(__m256i a, __m256i b, __m256i c) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i bc = _mm256_sub_epi16(b, c);
    const __m256i ac = _mm256_sub_epi16(a, c);
    const __m256i abc = _mm256_add_epi16(ac, bc);
    const __m256i pa = _mm256_max_epi16(bc, _mm256_sub_epi16(zero, bc));
    const __m256i pb = _mm256_max_epi16(ac, _mm256_sub_epi16(zero, ac));
    const __m256i pc = _mm256_max_epi16(abc, _mm256_sub_epi16(zero, abc));
    const __m256i bOrC = _mm256_blendv_epi8(b, c, _mm256_cmpgt_epi16(pb, pc));
    return _mm256_blendv_epi8(a, bOrC, _mm256_cmpgt_epi16(pa, _mm256_min_epi16(pb, pc)));
}

// PaethPredict on 32 bytes.
TILVEX_AVX2 inline __m256i PaethPredict32(__m256i a, __m256i b, __m256i c) {
    const __m256i pa = _mm256_sub_epi8(_mm256_max_epu8(b, c), _mm256_min_epu8(b, c));
    const __m256i pb = _mm256_sub_epi8(_mm256_max_epu8(a, c), _mm256_min_epu8(a, c));
    const __m256i apart = _mm256_xor_si256(_mm256_cmpeq_epi8(_mm256_max_epu8(a, c), a), _mm256_cmpeq_epi8(_mm256_max_epu8(b, c), b));
    const __m256i difference = _mm256_sub_epi8(_mm256_max_epu8(pa, pb), _mm256_min_epu8(pa, pb));
    const __m256i pc = _mm256_blendv_epi8(_mm256_adds_epu8(pa, pb), difference, apart);
    const __m256i takeA = _mm256_and_si256(_mm256_cmpeq_epi8(_mm256_min_epu8(pa, pb), pa), _mm256_cmpeq_epi8(_mm256_min_epu8(pa, pc), pa));
    const __m256i takeB = _mm256_cmpeq_epi8(_mm256_min_epu8(pb, pc), pb);
    return _mm256_blendv_epi8(_mm256_blendv_epi8(c, b, takeB), a, takeA);
}
#endif
