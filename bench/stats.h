#pragma once

#include <cstddef>
#include <string>
#include <vector>

// Order statistics of a set of samples; nearest rank, so every figure is a sample that occurred.
struct Summary
{
    std::size_t count = 0;
    double min = 0, median = 0, p99 = 0, max = 0;
};

Summary Summarise(std::vector<double> samples);
// The nearest-rank sample at `fraction` (0.5 the median, 1 the largest); 0 without samples.
double Percentile(std::vector<double> samples, double fraction);

// The machine a figure comes from: its CPUs, their model, the kernel and the load average, "2
// CPUs, AMD EPYC, Linux 6.1.0; load average 0.10 at the start".
std::string MachineNote();
