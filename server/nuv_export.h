// Marks the functions and classes the system library exports; everything else stays hidden.
#pragma once

#define NUV_EXPORT __attribute__((visibility("default")))
