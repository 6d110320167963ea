// Marks the functions and classes the system library exports; everything else stays hidden.
#pragma once

#ifdef _WIN32
#define NUV_EXPORT __declspec(dllexport)
#else
#define NUV_EXPORT __attribute__((visibility("default")))
#endif
