#pragma once

#include "driver.h"

#include <span>

namespace kestra {

/// The process-wide driver behind the C interface (the one port record).
Driver& instance();

/// One export: its fixed ordinal, its name and its address.
struct ExportEntry {
    int ordinal;
    const char* name;
    void* function;
};

/// The ordinal table, in ordinal order; a Windows build generates its .def file from it.
std::span<const ExportEntry> exportTable();

} // namespace kestra
