// Download figure: qelfetch's HTTPS download against a minimal synchronous WinHTTP loop, both
// from the test bed's HTTPS server on loopback, the same file, side by side.
#pragma once
#include <vector>

#include "benchmarks/measure.h"

// False when the server is not running or the file could not be placed.
bool BenchDownload(int pairs, std::vector<Figure>* figures);
