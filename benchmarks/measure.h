// Side-by-side measurement: two variants of one piece of work run alternately (A B A B ...),
// so that a shared, noisy machine slows both alike; the figure is the median of the per-pair
// ratios A/B, with their spread. Absolute times are kept for context only.
#pragma once
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// Seconds since an arbitrary start (performance counter).
double Now();

struct Figure {
    std::string name;
    std::string a, b;          // what A and B are
    std::string unit;          // unit of the absolute times ("s", "us/call")
    std::vector<double> aTimes, bTimes;
    double target = 0;         // the ratio must not exceed it; 0: no target (context only)
    bool atLeast = false;      // the ratio must be at least the target instead
    std::string note;          // how to read the figure
    bool failed = false;       // a run did not do its work; the ratio means nothing
    std::string failure;

    std::vector<double> Ratios() const;
    double RatioMedian() const;
    double RatioMin() const;
    double RatioMax() const;
    bool HasTarget() const { return target > 0; }
    bool Meets() const;
};

// Runs a and b alternately, pairs times each, after one untimed warm-up run of each. Each
// function returns the time it measured itself (seconds or microseconds), or a negative value
// when its work failed, which ends the figure.
void MeasurePairs(Figure& figure, int pairs, const std::function<double()>& a, const std::function<double()>& b);

double Median(std::vector<double> values);

// The table on stdout and the JSON document.
void PrintTable(const std::vector<Figure>& figures);
bool WriteJson(const std::string& path, const std::vector<Figure>& figures);
