#pragma once

// The build says whether to make a copy of the busiest loops for wider
// vector registers, chosen when the program starts (TAVIMOR_AVX2_CLONES):
// a function marked TAVIMOR_VECTOR_CLONES gets one. Every copy rounds as
// IEEE says: the same bits whichever runs.
#if TAVIMOR_AVX2_CLONES
#define TAVIMOR_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define TAVIMOR_VECTOR_CLONES
#endif
