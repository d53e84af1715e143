#pragma once

#include <atomic>

// The two process-wide choices that the event texts and the stream form depend on. One
// instance is held for the process (instance()); functions that depend on a flag also take it
// as a parameter so that callers and tests can pass their own.
class ViewFlags {
public:
    // Filter index values of the event list.
    enum Filter { AllEvents = 0, AlarmsOnly = 1 };

    static ViewFlags& instance();

    // True when the instrument measures in roentgens, false for sieverts.
    bool unitsRoentgen() const { return m_unitsRoentgen.load(std::memory_order_relaxed); }
    void setUnitsRoentgen(bool roentgen) { m_unitsRoentgen.store(roentgen, std::memory_order_relaxed); }

    int filterIndex() const { return m_filterIndex.load(std::memory_order_relaxed); }
    void setFilterIndex(int index) { m_filterIndex.store(index, std::memory_order_relaxed); }

private:
    // Written by one thread and polled by others, as the rest of the process-wide flags.
    std::atomic<bool> m_unitsRoentgen { false };
    std::atomic<int> m_filterIndex { AllEvents };
};
