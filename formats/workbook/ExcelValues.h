#pragma once
// Cell texts shared by the Excel readers: serial dates, error values and booleans, and the
// label that names a sheet when several are laid into one table.
#include <cstdint>
#include <optional>
#include <string>

#include "plugin/Export.h"

namespace kelto::workbook {

// Days between the 1900 and the 1904 date systems' day 0.
inline constexpr double kDate1904Offset = 1462.0;

// The date text of a serial date, counted in the 1900 system, or in the 1904 system when
// `date1904` is set:
//   serial >= 1: "yyyy-MM-dd HH:mm:ss" (the utility formatter's default date-time form),
//     1 being 1900-01-01 and 60 1900-02-28 (the serial numbers below 60 are one day off in
//     Excel, which counts a 29 February 1900 that never was); the time is rounded to
//     hundredths of a second;
//   serial < 1 (1900 system only): the time of day alone, "HH:mm:ss".
// nullopt for a value that names no representable date (not finite, or beyond year 9999):
// the caller then delivers the number.
KELTO_API std::optional<std::string> ExcelDateText(double serial, bool date1904 = false);

// The text of an error value as Excel writes it ([MS-XLS 2.5.97.2] BErr):
// 0x00 "#NULL!", 0x07 "#DIV/0!", 0x0F "#VALUE!", 0x17 "#REF!", 0x1D "#NAME?", 0x24 "#NUM!",
// 0x2A "#N/A"; any other code gives "Unknown error code".
KELTO_API const char* ExcelErrorText(std::uint8_t code);

inline const char* ExcelBooleanText(bool value) { return value ? "TRUE" : "FALSE"; }

// The label of a sheet laid beside others: the name in lower case when it contains "sheet"
// (in any case), else "sheet: %1%" (translated) with the name.
KELTO_API std::string ExcelSheetLabel(const std::string& name);

// [MS-XLS 2.5.217] RkNumber: a 30-bit integer or the high 30 bits of a double, divided by 100
// when its lowest bit is set.
KELTO_API double ExcelRkValue(std::uint32_t rk);

// The messages of the codes 768 to 777 that the readers of zip-packaged workbooks (.xlsx,
// .xlsb) share; `sheet` is the sheet being read. nullopt for any other code.
KELTO_API std::optional<std::string> ExcelPackageMessage(int code, const std::string& sheet);

}  // namespace kelto::workbook
