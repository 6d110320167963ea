#include <windows.h>

// Placeholder translation unit; the platform's function bodies live beside it.
