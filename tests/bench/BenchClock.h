// What every benchmark here measures with: a monotonic clock in seconds and
// the median and the best of repeated runs.
#pragma once

#include <windows.h>

#include <algorithm>
#include <vector>

namespace bench {

inline double Now()
{
    static const LARGE_INTEGER freq = [] {
        LARGE_INTEGER f;
        ::QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    ::QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / static_cast<double>(freq.QuadPart);
}

inline double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// The fastest run: what the work itself costs when nothing else got in the way.
inline double Best(const std::vector<double>& v)
{
    return *std::min_element(v.begin(), v.end());
}

} // namespace bench
