#pragma once

// The vector forms of PNG's predictors, shared by the filters of the writer and the reader.
// SSE2 is in every x86-64; elsewhere the callers use their loops of bytes.
#if defined(__SSE2__)
#include <emmintrin.h>

// floor((a + b) / 2) of each byte: pavgb rounds up, so take back the odd bit.
inline __m128i AverageFloor(__m128i a, __m128i b) {
    return _mm_sub_epi8(_mm_avg_epu8(a, b), _mm_and_si128(_mm_xor_si128(a, b), _mm_set1_epi8(1)));
}

// Paeth's predictor on 8 bytes widened to 16 bits. Among equal distances a wins over b over
// c, as the format asks: a where pa is the least, else b where pb is, else c.
inline __m128i Paeth16(__m128i a, __m128i b, __m128i c) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i pbRaw = _mm_sub_epi16(a, c);
    const __m128i paRaw = _mm_sub_epi16(b, c);
    const __m128i pcRaw = _mm_add_epi16(paRaw, pbRaw);
    const __m128i pa = _mm_max_epi16(paRaw, _mm_sub_epi16(zero, paRaw));
    const __m128i pb = _mm_max_epi16(pbRaw, _mm_sub_epi16(zero, pbRaw));
    const __m128i pc = _mm_max_epi16(pcRaw, _mm_sub_epi16(zero, pcRaw));
    const __m128i least = _mm_min_epi16(pa, _mm_min_epi16(pb, pc));
    const __m128i takeA = _mm_cmpeq_epi16(pa, least);
    const __m128i takeB = _mm_andnot_si128(takeA, _mm_cmpeq_epi16(pb, least));
    const __m128i takeC = _mm_andnot_si128(_mm_or_si128(takeA, takeB), _mm_set1_epi16(-1));
    return _mm_or_si128(_mm_or_si128(_mm_and_si128(takeA, a), _mm_and_si128(takeB, b)), _mm_and_si128(takeC, c));
}

// Paeth's predictor on 16 bytes.
inline __m128i PaethPredict(__m128i a, __m128i b, __m128i c) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i low = Paeth16(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero), _mm_unpacklo_epi8(c, zero));
    const __m128i high = Paeth16(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero), _mm_unpackhi_epi8(c, zero));
    return _mm_packus_epi16(low, high);
}
#endif
