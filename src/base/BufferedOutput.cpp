// BufferedOutput: the one write to the file, for every output.

#include "base/BufferedOutput.h"

void BufferedOutput_write(FILE *file, const char *s, std::size_t n) { std::fwrite(s, 1, n, file); }
