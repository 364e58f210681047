// Placement figures: qelplace placing a delivered release against a plain loop of MoveFileExW
// calls on the same files, on one volume: 5,000 small files and a 200 MB release.
#pragma once
#include <string>
#include <vector>

#include "benchmarks/measure.h"

// Builds the releases in scratch, measures, and deletes them again. False when a release
// could not be built.
bool BenchPlacement(const std::wstring& scratch, int pairs, std::vector<Figure>* figures);
