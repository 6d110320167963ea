// The bundled example model files, found through the source tree's examples folder that the build names:
// a test finds them whatever its working folder and however its sources were compiled (a compiler cache
// may shorten the source paths the compiler sees).
#pragma once
#include <string>

inline std::string ExampleModelPath(const char* name) { return std::string(NUV_EXAMPLES_DIR) + "/" + name; }
