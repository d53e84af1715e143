#include "kestrasim/scenario.h"

#include <cmath>
#include <fstream>
#include <sstream>

namespace kestra::sim {

namespace {

constexpr double kBackground = 1.0e-7;
constexpr std::size_t kMaxSteps = 100000;
constexpr std::size_t kMaxFileBytes = 4 * 1024 * 1024;
constexpr double kMaxRate = 1.0e3; // Sv/h; far beyond any overload

} // namespace

bool Scenario::parse(const std::string& text, Scenario* scenario, std::string* error)
{
    Scenario result;
    std::istringstream lines(text);
    std::string line;
    int lineNumber = 0;
    auto fail = [&](const std::string& why) {
        if (error)
            *error = "scenario line " + std::to_string(lineNumber) + ": " + why;
        return false;
    };
    while (std::getline(lines, line)) {
        ++lineNumber;
        const std::size_t hash = line.find('#');
        if (hash != std::string::npos)
            line.erase(hash);
        std::istringstream fields(line);
        std::string first;
        if (!(fields >> first))
            continue;
        if (first == "loop") {
            result.m_loop = true;
            continue;
        }
        std::istringstream number(first);
        double at = 0;
        double rate = 0;
        if (!(number >> at) || !number.eof() || !(fields >> rate))
            return fail("expected \"SECONDS RATE\"");
        std::string rest;
        if (fields >> rest)
            return fail("unexpected text \"" + rest + "\"");
        if (!std::isfinite(at) || at < 0)
            return fail("time must be a non-negative number");
        if (!std::isfinite(rate) || rate < 0 || rate > kMaxRate)
            return fail("rate must lie between 0 and 1000 Sv/h");
        if (!result.m_steps.empty() && at < result.m_steps.back().at)
            return fail("times must not decrease");
        if (result.m_steps.size() >= kMaxSteps)
            return fail("too many steps");
        result.m_steps.push_back({ at, rate });
    }
    if (result.m_steps.empty()) {
        if (error)
            *error = "scenario has no steps";
        return false;
    }
    *scenario = std::move(result);
    return true;
}

bool Scenario::load(const std::string& nameOrFile, Scenario* scenario, std::string* error)
{
    static const struct {
        const char* name;
        const char* text;
    } builtIns[] = {
        { "background", "0 1.0e-7\n" },
        { "alarm", "0 1.0e-7\n10 5.0e-4\n40 1.0e-7\n" },
        { "danger", "0 1.0e-7\n10 5.0e-4\n20 2.0e-3\n50 1.0e-7\n" },
        { "ramp", "0 1.0e-7\n15 1.0e-6\n30 1.0e-5\n45 1.0e-4\n60 1.0e-3\n75 1.0e-4\n90 1.0e-6\n105 1.0e-7\nloop\n" },
    };
    for (const auto& builtIn : builtIns) {
        if (nameOrFile == builtIn.name)
            return parse(builtIn.text, scenario, error);
    }
    std::ifstream file(nameOrFile, std::ios::binary);
    if (!file) {
        if (error)
            *error = "no built-in scenario and no readable file named \"" + nameOrFile
                + "\" (built-ins: background, alarm, danger, ramp)";
        return false;
    }
    std::string text;
    char buffer[4096];
    while (file.read(buffer, sizeof buffer) || file.gcount() > 0) {
        text.append(buffer, static_cast<std::size_t>(file.gcount()));
        if (text.size() > kMaxFileBytes) {
            if (error)
                *error = "scenario file is larger than 4 MiB";
            return false;
        }
    }
    return parse(text, scenario, error);
}

double Scenario::rateAt(double t) const
{
    if (m_steps.empty())
        return kBackground;
    const double period = m_steps.back().at;
    if (m_loop && period > 0 && t >= period)
        t = std::fmod(t, period);
    double rate = m_steps.front().rate;
    for (const Step& step : m_steps) {
        if (step.at > t)
            break;
        rate = step.rate;
    }
    return rate;
}

} // namespace kestra::sim
