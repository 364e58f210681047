#include "benchmarks/measure.h"

#include <algorithm>
#include <cstdio>

double Now()
{
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER count;
    QueryPerformanceCounter(&count);
    return static_cast<double>(count.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> values)
{
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

std::vector<double> Figure::Ratios() const
{
    std::vector<double> ratios;
    for (size_t i = 0; i < aTimes.size() && i < bTimes.size(); ++i) {
        if (bTimes[i] > 0) ratios.push_back(aTimes[i] / bTimes[i]);
    }
    return ratios;
}

double Figure::RatioMedian() const { return Median(Ratios()); }

double Figure::RatioMin() const
{
    std::vector<double> r = Ratios();
    return r.empty() ? 0 : *std::min_element(r.begin(), r.end());
}

double Figure::RatioMax() const
{
    std::vector<double> r = Ratios();
    return r.empty() ? 0 : *std::max_element(r.begin(), r.end());
}

bool Figure::Meets() const
{
    if (failed || !HasTarget()) return !failed;
    return atLeast ? RatioMedian() >= target : RatioMedian() <= target;
}

void MeasurePairs(Figure& figure, int pairs, const std::function<double()>& a, const std::function<double()>& b)
{
    fprintf(stderr, "bench: %s: warm-up\n", figure.name.c_str());
    if (a() < 0 || b() < 0) {
        figure.failed = true;
        figure.failure = "warm-up run failed";
        return;
    }
    for (int i = 0; i < pairs; ++i) {
        double ta = a();
        double tb = ta < 0 ? -1 : b();
        if (ta < 0 || tb < 0) {
            figure.failed = true;
            figure.failure = "run " + std::to_string(i + 1) + " failed";
            return;
        }
        figure.aTimes.push_back(ta);
        figure.bTimes.push_back(tb);
        fprintf(stderr, "bench: %s: pair %d/%d: %.4g / %.4g = %.4f\n", figure.name.c_str(), i + 1, pairs, ta, tb,
                ta / tb);
    }
}

namespace {

std::string Verdict(const Figure& f)
{
    if (f.failed) return "FAILED: " + f.failure;
    if (!f.HasTarget()) return "context";
    char text[64];
    snprintf(text, sizeof text, "%s %s %.2f", f.Meets() ? "meets" : "MISSES", f.atLeast ? ">=" : "<=", f.target);
    return text;
}

std::string Escape(const std::string& text)
{
    std::string out;
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        if (c == '\n') {
            out += "\\n";
            continue;
        }
        out += c;
    }
    return out;
}

std::string Numbers(const std::vector<double>& values)
{
    std::string out = "[";
    for (size_t i = 0; i < values.size(); ++i) {
        char n[32];
        snprintf(n, sizeof n, "%s%.6g", i ? ", " : "", values[i]);
        out += n;
    }
    return out + "]";
}

}  // namespace

void PrintTable(const std::vector<Figure>& figures)
{
    printf("\n%-34s %5s %12s %12s %8s %17s  %s\n", "figure (A / B)", "pairs", "A median", "B median", "ratio",
           "spread (min-max)", "target");
    for (const Figure& f : figures) {
        std::vector<double> a = f.aTimes, b = f.bTimes;
        printf("%-34s %5zu %9.4g %-2s %9.4g %-2s %8.3f %8.3f-%-8.3f  %s\n", f.name.c_str(), f.Ratios().size(),
               Median(a), f.unit == "s" ? "s" : "us", Median(b), f.unit == "s" ? "s" : "us", f.RatioMedian(),
               f.RatioMin(), f.RatioMax(), Verdict(f).c_str());
        printf("    A: %s\n    B: %s\n", f.a.c_str(), f.b.c_str());
        if (!f.note.empty()) printf("    %s\n", f.note.c_str());
    }
    fflush(stdout);
}

bool WriteJson(const std::string& path, const std::vector<Figure>& figures)
{
    FILE* out = fopen(path.c_str(), "wb");
    if (out == nullptr) return false;
    fprintf(out, "{\n  \"figures\": [\n");
    for (size_t i = 0; i < figures.size(); ++i) {
        const Figure& f = figures[i];
        fprintf(out, "    {\n      \"name\": \"%s\",\n      \"a\": \"%s\",\n      \"b\": \"%s\",\n", Escape(f.name).c_str(),
                Escape(f.a).c_str(), Escape(f.b).c_str());
        fprintf(out, "      \"unit\": \"%s\",\n      \"a_times\": %s,\n      \"b_times\": %s,\n", f.unit.c_str(),
                Numbers(f.aTimes).c_str(), Numbers(f.bTimes).c_str());
        fprintf(out, "      \"a_median\": %.6g,\n      \"b_median\": %.6g,\n", Median(f.aTimes), Median(f.bTimes));
        fprintf(out, "      \"ratios\": %s,\n      \"ratio_median\": %.6g,\n", Numbers(f.Ratios()).c_str(),
                f.RatioMedian());
        fprintf(out, "      \"ratio_min\": %.6g,\n      \"ratio_max\": %.6g,\n", f.RatioMin(), f.RatioMax());
        if (f.HasTarget()) {
            fprintf(out, "      \"target\": %.6g,\n      \"target_kind\": \"%s\",\n", f.target,
                    f.atLeast ? "at least" : "at most");
        } else {
            fprintf(out, "      \"target\": null,\n");
        }
        fprintf(out, "      \"note\": \"%s\",\n", Escape(f.note).c_str());
        fprintf(out, "      \"failed\": %s,\n      \"meets_target\": %s\n    }%s\n", f.failed ? "true" : "false",
                f.HasTarget() ? (f.Meets() ? "true" : "false") : "null", i + 1 < figures.size() ? "," : "");
    }
    fprintf(out, "  ]\n}\n");
    return fclose(out) == 0;
}
