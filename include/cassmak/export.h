// What the library exports: only the functions marked CASSMAK_API are seen
// from outside the shared library; everything else in it stays hidden.
#pragma once

#if defined(_WIN32)
#define CASSMAK_API
#elif defined(__GNUC__)
#define CASSMAK_API __attribute__((visibility("default")))
#else
#define CASSMAK_API
#endif
