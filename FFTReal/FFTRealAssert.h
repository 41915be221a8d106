#ifndef FFTREALASSERT_H
#define FFTREALASSERT_H

#include <cstdio>
#include <cstdlib>

// A precondition check that stays on in every build, Release included: the
// project builds with NDEBUG, which would silence the standard assert(). Each
// check sits outside the inner loops (a constructor, a resize, the entry of a
// transform, a table access while building the tables), so leaving it on
// costs nothing measurable.
//
// On failure the condition is printed exactly as written in the source,
// "Assertion failed: <condition>, file <file>, line <line>", on the standard
// error stream, and the process aborts.
#define FFTREAL_ASSERT(cond) \
    ((cond) ? static_cast<void>(0) : fftreal_assertion_failed(#cond, __FILE__, __LINE__))

[[noreturn]] inline void fftreal_assertion_failed(const char *condition, const char *file, int line)
{
    std::fprintf(stderr, "Assertion failed: %s, file %s, line %d\n", condition, file, line);
    std::fflush(stderr);
    std::abort();
}

#endif // FFTREALASSERT_H
