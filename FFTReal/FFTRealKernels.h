#ifndef FFTREALKERNELS_H
#define FFTREALKERNELS_H

// The width of the vectors in the transform's inner loops. Where the processor
// has AVX2 the kernels handle four doubles at a time, elsewhere two; both give
// the same results bit for bit. Narrow forces two lanes on every machine, so
// that a test run on an AVX2 machine also covers the code the others run. The
// choice is process-wide and must not change while a transform runs.
enum class FFTRealKernels { Automatic, Narrow };

void FFTReal_select_kernels(FFTRealKernels kernels);

// True when the transforms currently run the four-lane kernels.
bool FFTReal_wide_kernels_active();

#endif // FFTREALKERNELS_H
