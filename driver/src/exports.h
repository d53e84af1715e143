#pragma once

#include "driver.h"

#include <exception>
#include <span>

namespace kestra {

/// The process-wide driver behind the C interface (the one port record).
Driver& instance();

/// Writes "<export>: internal error: <what>" to the driver log; never throws.
void logEscapedException(const char* exportName, const char* what) noexcept;

/// Runs the body of one export so that no exception crosses the C interface: one that escapes
/// is logged and the export returns `failure` (0, or its documented failure value).
template <typename Result, typename Body> Result guarded(const char* exportName, Result failure, Body&& body) noexcept
{
    try {
        return static_cast<Result>(body());
    } catch (const std::exception& error) {
        logEscapedException(exportName, error.what());
    } catch (...) {
        logEscapedException(exportName, "unknown exception");
    }
    return failure;
}

/// One export: its fixed ordinal, its name and its address.
struct ExportEntry {
    int ordinal;
    const char* name;
    void* function;
};

/// The ordinal table, in ordinal order; a Windows build generates its .def file from it.
std::span<const ExportEntry> exportTable();

} // namespace kestra
