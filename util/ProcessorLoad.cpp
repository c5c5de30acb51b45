#include "util/ProcessorLoad.h"

#include <fstream>
#include <sstream>

namespace zembra {

bool ParseProcessorTimes(const std::string& Stat, TProcessorTimes& Times) {
    std::istringstream Lines(Stat);
    std::string Line;
    TProcessorTimes Read;
    bool Sums = false;
    while (std::getline(Lines, Line)) {
        if (Line.size() > 3 && Line.compare(0, 3, "cpu") == 0 && Line[3] >= '0' && Line[3] <= '9') {
            ++Read.Processors;
            continue;
        }
        if (Line.compare(0, 4, "cpu ") != 0) continue;
        std::istringstream Fields(Line.substr(4));
        // user nice system idle iowait irq softirq steal; the guest times after them are
        // already counted in user and nice.
        uint64_t Value[8] = {};
        int Count = 0;
        while (Count < 8 && Fields >> Value[Count]) ++Count;
        if (Count < 4) return false;
        for (int I = 0; I < Count; ++I) Read.Total += Value[I];
        Read.Idle = Value[3] + (Count > 4 ? Value[4] : 0);
        Sums = true;
    }
    if (!Sums) return false;
    if (Read.Processors == 0) Read.Processors = 1;
    Times = Read;
    return true;
}

bool ReadProcessorTimes(TProcessorTimes& Times) {
    std::ifstream File("/proc/stat");
    if (!File) return false;
    std::ostringstream Text;
    Text << File.rdbuf();
    return ParseProcessorTimes(Text.str(), Times);
}

double IdleProcessors(const TProcessorTimes& Before, const TProcessorTimes& After) {
    const double Processors = After.Processors;
    if (After.Total <= Before.Total || After.Idle < Before.Idle) return Processors;
    const double Share =
        static_cast<double>(After.Idle - Before.Idle) / static_cast<double>(After.Total - Before.Total);
    return Share > 1.0 ? Processors : Share * Processors;
}

}  // namespace zembra
