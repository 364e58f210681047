// Delivery figures: qelfetch against the platform floor, and with a host polling it flat out.
#pragma once
#include <string>
#include <vector>

#include "benchmarks/measure.h"

// Builds a pre-placed release of about 200 MB in scratch, measures, and deletes it again.
// False when the release could not be built.
bool BenchDelivery(const std::wstring& scratch, int pairs, std::vector<Figure>* figures);
