// The process's own peak resident size around a piece of work, for tests
// that hold a memory ceiling against a hostile peer.
#pragma once

#include <cstdint>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

namespace kalmuro::test {

// A field of /proc/self/status in kB ("VmRSS", "VmHWM"), -1 when absent.
inline int64_t ProcStatusKb(const std::string& field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field + ":", 0) != 0) continue;
        std::istringstream value(line.substr(field.size() + 1));
        int64_t kb = -1;
        value >> kb;
        return kb;
    }
    return -1;
}

// Resets the peak, runs body and returns by how many bytes the peak rose over
// the resident size before it; -1 when the kernel cannot reset the peak.
inline int64_t PeakGrowthBytes(const std::function<void()>& body) {
    {
        std::ofstream reset("/proc/self/clear_refs");
        if (!(reset << "5" << std::flush)) return -1;
    }
    const int64_t before = ProcStatusKb("VmRSS");
    body();
    const int64_t peak = ProcStatusKb("VmHWM");
    if (before < 0 || peak < 0) return -1;
    return (peak - before) * 1024;
}

}  // namespace kalmuro::test
