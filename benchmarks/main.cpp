// qelbench: side-by-side benchmarks of qelfetch, qelplace and qelskin (see measure.h for the
// method).
//   qelbench OUT.json SCRATCH_DIR [delivery] [download] [paint] [placement] [--pairs N]
// Without case names every case runs. The table goes to stdout, progress to stderr.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "benchmarks/delivery_bench.h"
#include "benchmarks/download_bench.h"
#include "benchmarks/measure.h"
#include "benchmarks/paint_bench.h"
#include "benchmarks/placement_bench.h"

int main(int argc, char** argv)
{
    if (argc < 3) {
        fputs("usage: qelbench OUT.json SCRATCH_DIR [delivery] [download] [paint] [placement] [--pairs N]\n", stderr);
        return 2;
    }
    std::string json = argv[1];
    std::string scratchNarrow = argv[2];
    std::wstring scratch(scratchNarrow.begin(), scratchNarrow.end());
    bool delivery = false, download = false, paint = false, placement = false;
    int pairs = 7;
    for (int i = 3; i < argc; ++i) {
        if (strcmp(argv[i], "delivery") == 0) delivery = true;
        else if (strcmp(argv[i], "download") == 0) download = true;
        else if (strcmp(argv[i], "paint") == 0) paint = true;
        else if (strcmp(argv[i], "placement") == 0) placement = true;
        else if (strcmp(argv[i], "--pairs") == 0 && i + 1 < argc) pairs = atoi(argv[++i]);
        else {
            fprintf(stderr, "qelbench: unknown argument %s\n", argv[i]);
            return 2;
        }
    }
    if (!delivery && !download && !paint && !placement) delivery = download = paint = placement = true;
    if (pairs < 5) pairs = 5;  // fewer pairs say too little on a shared machine

    std::vector<Figure> figures;
    bool ok = true;
    if (paint) ok = BenchPaint(pairs * 3, &figures) && ok;
    if (delivery) ok = BenchDelivery(scratch, pairs, &figures) && ok;
    if (download) ok = BenchDownload(pairs, &figures) && ok;
    if (placement) ok = BenchPlacement(scratch, pairs, &figures) && ok;
    PrintTable(figures);
    if (!WriteJson(json, figures)) {
        fprintf(stderr, "qelbench: cannot write %s\n", json.c_str());
        return 1;
    }
    for (const Figure& f : figures) ok = ok && !f.failed;
    return ok ? 0 : 1;
}
