#include "formats/workbook/ExcelValues.h"

#include <cmath>
#include <cstring>
#include <ctime>

#include <boost/algorithm/string/case_conv.hpp>
#include <boost/algorithm/string/find.hpp>
#include <boost/date_time/gregorian/gregorian_types.hpp>
#include <boost/date_time/posix_time/posix_time_types.hpp>

#include "outside/utl/QmTimeUtl.h"
#include "platform/Translate.h"

namespace kelto::workbook {

namespace {

constexpr double kHundredthsPerDay = 8'640'000.0;
// 9999-12-31 in the 1900 system; later serials name no date the formatter can show.
constexpr double kLastSerial = 2'958'465.0;

boost::posix_time::time_duration TimeOfDay(double fraction) {
    const auto hundredths = static_cast<long long>(std::llround(fraction * kHundredthsPerDay));
    return boost::posix_time::milliseconds(hundredths * 10);
}

}  // namespace

std::optional<std::string> ExcelDateText(double serial, bool date1904) {
    if (!std::isfinite(serial)) return std::nullopt;
    if (date1904) serial += kDate1904Offset;
    if (serial >= kLastSerial + 1) return std::nullopt;
    if (serial >= 1) {
        const double whole = std::trunc(serial);
        auto day = static_cast<long>(whole);
        if (day < 60) ++day;
        const boost::gregorian::date date = boost::gregorian::date(1899, 12, 30) + boost::gregorian::days(day);
        const boost::posix_time::ptime time(date, TimeOfDay(serial - whole));
        static const QmTimeUtl::DateTimeFormatter kFormatter(QmTimeUtl::DateTime, std::string());
        return kFormatter.Format(time);
    }
    // A time without a date: shown on today's date, so only its clock matters.
    const double fraction = serial - std::floor(serial);
    const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
    std::tm local{};
    boost::gregorian::date today(2000, 1, 1);
    if (qmlocaltime_r(&now, &local))
        today = boost::gregorian::date(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
    static const QmTimeUtl::DateTimeFormatter kTimeFormatter(QmTimeUtl::Time, "HH:mm:ss");
    return kTimeFormatter.Format(boost::posix_time::ptime(today, TimeOfDay(fraction)));
}

const char* ExcelErrorText(std::uint8_t code) {
    switch (code) {
        case 0x00: return "#NULL!";
        case 0x07: return "#DIV/0!";
        case 0x0F: return "#VALUE!";
        case 0x17: return "#REF!";
        case 0x1D: return "#NAME?";
        case 0x24: return "#NUM!";
        case 0x2A: return "#N/A";
        default: return "Unknown error code";
    }
}

std::string ExcelSheetLabel(const std::string& name) {
    if (boost::algorithm::ifind_first(name, "sheet")) return boost::algorithm::to_lower_copy(name);
    return TranslateFormat("sheet: %1%", name);
}

double ExcelRkValue(std::uint32_t rk) {
    double value;
    if (rk & 2) {
        value = static_cast<double>(static_cast<std::int32_t>(rk) >> 2);
    } else {
        const std::uint64_t bits = static_cast<std::uint64_t>(rk & 0xFFFFFFFCu) << 32;
        std::memcpy(&value, &bits, sizeof value);
    }
    return (rk & 1) ? value / 100.0 : value;
}

std::optional<std::string> ExcelPackageMessage(int code, const std::string& sheet) {
    switch (code) {
        case 768: return kelto::TranslateFormat("The sheet \"%1%\" contains no data.", sheet);
        case 769: return kelto::Translate("The file contains no sheets.");
        case 770: return kelto::Translate("Unable to open Excel file.");
        case 771: return kelto::Translate("The file is corrupt.");
        case 772: return kelto::Translate("At least one of the sheets do not have a correct size.");
        case 773: return kelto::Translate("The file contains an unsupported format.");
        case 774: return kelto::Translate("Out of memory while parsing XML, try using a binary format.");
        case 775:
            return kelto::Translate(
                "The file could not be opened. It might be password protected or not a valid Excel file.\n\n"
                "Currently we cannot handle password protected Excel files.");
        case 776: return kelto::Translate("No sheet is selected from file.");
        case 777: return kelto::Translate("Unable to open Excel file due to internal (XLSX I/O) memory protection.");
        default: return std::nullopt;
    }
}

}  // namespace kelto::workbook
