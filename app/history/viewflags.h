#pragma once

#include <atomic>

// The two program-wide choices that the event texts and the stream form depend on. Each
// program's context holds one; functions that depend on a flag take it (or the flags) as a
// parameter.
class ViewFlags {
public:
    // Filter index values of the event list.
    enum Filter { AllEvents = 0, AlarmsOnly = 1 };

    // True when the instrument measures in roentgens, false for sieverts.
    bool unitsRoentgen() const { return m_unitsRoentgen.load(std::memory_order_relaxed); }
    void setUnitsRoentgen(bool roentgen) { m_unitsRoentgen.store(roentgen, std::memory_order_relaxed); }

    int filterIndex() const { return m_filterIndex.load(std::memory_order_relaxed); }
    void setFilterIndex(int index) { m_filterIndex.store(index, std::memory_order_relaxed); }

private:
    // Written by one thread and polled by others, as the rest of the program-wide flags.
    std::atomic<bool> m_unitsRoentgen { false };
    std::atomic<int> m_filterIndex { AllEvents };
};
