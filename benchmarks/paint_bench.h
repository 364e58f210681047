// Painting figures: a skinned page and a styled button, each against a plain FillRect of the
// same area, and the proof that a button away from the picture does not pay for its stretch.
#pragma once
#include <vector>

#include "benchmarks/measure.h"

bool BenchPaint(int pairs, std::vector<Figure>* figures);
