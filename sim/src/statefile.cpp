#include "kestrasim/instrument.h"
#include "kestrasim/wire.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>

namespace kestra::sim {

namespace {

constexpr std::size_t kMaxLine = 256;

std::string formatDouble(double value)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

bool parseDouble(const std::string& text, double* value)
{
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || errno == ERANGE || !std::isfinite(v))
        return false;
    *value = v;
    return true;
}

bool parseInteger(const std::string& text, long long low, long long high, long long* value)
{
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno == ERANGE || v < low || v > high)
        return false;
    *value = v;
    return true;
}

} // namespace

bool saveState(const std::string& path, const Settings& s, const std::vector<RawRecord>& history, std::string* error)
{
    std::ostringstream out;
    out << "# kestra-sim state\n";
    out << "number=" << s.number << "\n";
    out << "roentgen=" << s.roentgen << "\n";
    out << "sound=" << s.sound << "\n";
    out << "light=" << s.light << "\n";
    out << "searchBeep=" << s.searchBeep << "\n";
    out << "sigma=" << formatDouble(s.sigma) << "\n";
    out << "qmTimeout=" << s.qmTimeout << "\n";
    out << "derThreshold1=" << formatDouble(s.derThreshold1) << "\n";
    out << "derThreshold2=" << formatDouble(s.derThreshold2) << "\n";
    out << "deThreshold=" << formatDouble(s.deThreshold) << "\n";
    out << "hvCode=" << s.hvCode << "\n";
    out << "kDer=" << formatDouble(s.kDer) << "\n";
    out << "kBeta=" << s.kBeta << "\n";
    out << "kAlpha=" << s.kAlpha << "\n";
    out << "ownBackground=" << formatDouble(s.ownBackground) << "\n";
    out << "betaThreshold1=" << s.betaThreshold1 << "\n";
    out << "betaThreshold2=" << s.betaThreshold2 << "\n";
    out << "searchBetaThreshold=" << formatDouble(s.searchBetaThreshold) << "\n";
    out << "menu=" << toHex(s.menu.data(), s.menu.size()) << "\n";
    out << "historyInterval=" << s.historyInterval << "\n";
    out << "clockOffset=" << s.clockOffset << "\n";
    out << "mode=" << s.mode << "\n";
    out << "locked=" << s.locked << "\n";
    out << "autocalRate=" << formatDouble(s.autocalRate) << "\n";
    out << "autocalTolerance=" << s.autocalTolerance << "\n";
    out << "autocalPrecision=" << s.autocalPrecision << "\n";
    out << "dose=" << formatDouble(s.dose) << "\n";
    out << "doseTime=" << formatDouble(s.doseTime) << "\n";
    out << "battery=" << s.battery << "\n";
    for (const RawRecord& record : history)
        out << "record=" << recordToHex(record) << "\n";

    // Write beside the target and rename, so a crash never leaves half a state file.
    const std::string temporary = path + ".tmp";
    {
        std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
        if (!file) {
            if (error)
                *error = "cannot write " + temporary + ": " + std::strerror(errno);
            return false;
        }
        const std::string text = out.str();
        file.write(text.data(), static_cast<std::streamsize>(text.size()));
        file.flush();
        if (!file) {
            if (error)
                *error = "cannot write " + temporary;
            return false;
        }
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        if (error)
            *error = "cannot replace " + path + ": " + std::strerror(errno);
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

bool loadState(const std::string& path, Settings* settings, std::vector<RawRecord>* history, std::string* error)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        if (error)
            *error = "cannot read " + path;
        return false;
    }
    Settings s = *settings;
    std::vector<RawRecord> records;
    int lineNumber = 0;
    std::string why;

    auto flag = [&](bool* target) {
        return [&, target](const std::string& v) {
            if (v != "0" && v != "1")
                return false;
            *target = v == "1";
            return true;
        };
    };
    auto real = [&](double* target) { return [target](const std::string& v) { return parseDouble(v, target); }; };
    auto integer = [&](auto* target, long long low, long long high) {
        return [target, low, high](const std::string& v) {
            long long value = 0;
            if (!parseInteger(v, low, high, &value))
                return false;
            *target = static_cast<std::remove_pointer_t<decltype(target)>>(value);
            return true;
        };
    };
    const std::map<std::string, std::function<bool(const std::string&)>> keys = {
        { "number",
            [&](const std::string& v) {
                if (v.empty() || v.size() > 32 || !std::all_of(v.begin(), v.end(), [](char c) {
                        return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_';
                    }))
                    return false;
                s.number = v;
                return true;
            } },
        { "roentgen", flag(&s.roentgen) },
        { "sound", flag(&s.sound) },
        { "light", flag(&s.light) },
        { "searchBeep", flag(&s.searchBeep) },
        { "sigma", real(&s.sigma) },
        { "qmTimeout", integer(&s.qmTimeout, 0, 0xFFFF) },
        { "derThreshold1", real(&s.derThreshold1) },
        { "derThreshold2", real(&s.derThreshold2) },
        { "deThreshold", real(&s.deThreshold) },
        { "hvCode", integer(&s.hvCode, 0, 0xFFFF) },
        { "kDer", real(&s.kDer) },
        { "kBeta", integer(&s.kBeta, -2000000000LL, 2000000000LL) },
        { "kAlpha", integer(&s.kAlpha, -2000000000LL, 2000000000LL) },
        { "ownBackground", real(&s.ownBackground) },
        { "betaThreshold1", integer(&s.betaThreshold1, 0, 2000000000LL) },
        { "betaThreshold2", integer(&s.betaThreshold2, 0, 2000000000LL) },
        { "searchBetaThreshold", real(&s.searchBetaThreshold) },
        { "menu",
            [&](const std::string& v) {
                const auto bytes = fromHex(v);
                if (!bytes || bytes->size() != s.menu.size())
                    return false;
                std::copy(bytes->begin(), bytes->end(), s.menu.begin());
                return true;
            } },
        { "historyInterval", integer(&s.historyInterval, 1, 0xFFFF) },
        { "clockOffset", integer(&s.clockOffset, -4294967296LL, 4294967296LL) },
        { "mode", integer(&s.mode, 0, 8) },
        { "locked", flag(&s.locked) },
        { "autocalRate", real(&s.autocalRate) },
        { "autocalTolerance", integer(&s.autocalTolerance, 0, 99) },
        { "autocalPrecision", integer(&s.autocalPrecision, 0, 99) },
        { "dose", real(&s.dose) },
        { "doseTime", real(&s.doseTime) },
        { "battery", integer(&s.battery, 0, 10) },
        { "record",
            [&](const std::string& v) {
                if (records.size() >= Instrument::kMaxHistoryRecords)
                    return false;
                RawRecord record;
                if (!recordFromHex(v, &record))
                    return false;
                records.push_back(record);
                return true;
            } },
    };

    std::string line;
    while (std::getline(file, line)) {
        ++lineNumber;
        if (line.size() > kMaxLine) {
            if (error)
                *error = path + ":" + std::to_string(lineNumber) + ": line too long";
            return false;
        }
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == '#')
            continue;
        const std::size_t equals = line.find('=');
        const std::string key = line.substr(0, equals);
        const auto entry = keys.find(key);
        if (equals == std::string::npos || entry == keys.end()) {
            if (error)
                *error = path + ":" + std::to_string(lineNumber) + ": unknown entry \"" + key + "\"";
            return false;
        }
        if (!entry->second(line.substr(equals + 1))) {
            if (error)
                *error = path + ":" + std::to_string(lineNumber) + ": bad value for " + key;
            return false;
        }
    }
    *settings = s;
    *history = std::move(records);
    return true;
}

} // namespace kestra::sim
