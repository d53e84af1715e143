#pragma once

// A scripted dose-rate source: a step function of time since the simulator started.

#include <string>
#include <vector>

namespace kestra::sim {

class Scenario {
public:
    struct Step {
        double at = 0.0; // seconds since start
        double rate = 0.0; // Sv/h from then on
    };

    /// Built-in names: "background" (0.1 uSv/h), "alarm" (background, then above DER threshold 1
    /// from 10 s to 40 s), "danger" (like alarm, then above threshold 2 from 20 s to 50 s),
    /// "ramp" (rises tenfold every 15 s to 1 mSv/h, then falls back, repeating).
    /// Anything else is read as a file: one "SECONDS RATE" pair per line (rate in Sv/h),
    /// "#" comments, and an optional line "loop" to repeat from the start after the last step.
    static bool load(const std::string& nameOrFile, Scenario* scenario, std::string* error);
    static bool parse(const std::string& text, Scenario* scenario, std::string* error);

    bool empty() const { return m_steps.empty(); }
    double rateAt(double secondsSinceStart) const;
    const std::vector<Step>& steps() const { return m_steps; }
    bool loops() const { return m_loop; }

private:
    std::vector<Step> m_steps;
    bool m_loop = false;
};

} // namespace kestra::sim
