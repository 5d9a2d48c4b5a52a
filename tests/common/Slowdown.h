#pragma once
// How many times slower than the plain build the sanitizer builds run, on a machine that runs two
// tests at a time: time bounds that check speed scale by it, so that they hold the plain build to
// its bound and still let the sanitizer builds find what they are for.

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr int kSlowdown = 4;
#else
inline constexpr int kSlowdown = 1;
#endif
