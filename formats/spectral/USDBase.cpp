#include "formats/spectral/USDBase.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <sstream>

#include "outside/utl/BinaryIO.h"
#include "outside/utl/ConfigurationSection.h"

namespace {

constexpr char kSettings[] = "Settings";
constexpr char kIncludeOrdinalValues[] = "IncludeOrdinalValues";
constexpr char kIncludeAllValues[] = "IncludeAllValues";
constexpr char kNumberOfIncludedIntervals[] = "NumberOfIncludedIntervals";
constexpr char kUseAverage[] = "UseAverage";
constexpr char kIncludeXStartPt[] = "IncludeXStartPt";
constexpr char kIncludeXEndPt[] = "IncludeXEndPt";

// The bound holds when it is on the right side of x, or within a relative 1e-5 of x. The
// difference and the quotient are single precision, as the bounds and x themselves are.
bool Near(float bound, float x) {
    const float relative = (bound - x) / x;
    return std::fabs(static_cast<double>(relative)) < 1e-5;
}

}  // namespace

USDBase::~USDBase() = default;

USDConstraints* USDBase::GetUSDConstraints(USDConstraints* out) const {
    if (!out) return out;
    out->IncludeOrdinalValues = includeOrdinalValues_;
    out->IncludeAllValues = includeAllValues_;
    out->NumberOfIncludedIntervals = intervals_;
    out->UseAverage = useAverage_;
    if (intervals_ >= 1) {
        out->IncludeXStartPt = starts_;
        out->IncludeXEndPt = ends_;
    } else {
        out->IncludeXStartPt.clear();
        out->IncludeXEndPt.clear();
    }
    return out;
}

void USDBase::SetUSDConstraints(const USDConstraints* in) {
    if (!in) return;
    includeOrdinalValues_ = in->IncludeOrdinalValues;
    includeAllValues_ = in->IncludeAllValues;
    useAverage_ = in->UseAverage;
    // The arrays are taken for what they hold: a count that claims more would read beyond them.
    const std::size_t held = std::min(in->IncludeXStartPt.size(), in->IncludeXEndPt.size());
    const std::int32_t count = static_cast<std::int32_t>(
        std::min<std::int64_t>(in->NumberOfIncludedIntervals, static_cast<std::int64_t>(held)));
    intervals_ = count;
    if (count >= 1) {
        starts_.assign(in->IncludeXStartPt.begin(), in->IncludeXStartPt.begin() + count);
        ends_.assign(in->IncludeXEndPt.begin(), in->IncludeXEndPt.begin() + count);
    } else {
        starts_.clear();
        ends_.clear();
    }
}

void USDBase::Reset() {
    xSum_ = ySum_ = 0.0f;
    xCount_ = yCount_ = 0;
    lastInterval_ = -1;
}

int USDBase::Containing(float x) const {
    if (includeAllValues_ || starts_.empty() || ends_.empty()) return -2;
    if (intervals_ < 1) return -1;
    const int n = static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(intervals_), std::min(starts_.size(), ends_.size())));
    for (int i = 0; i < n; ++i) {
        const float start = starts_[static_cast<std::size_t>(i)];
        const float end = ends_[static_cast<std::size_t>(i)];
        const bool lower = x >= start || Near(start, x);
        const bool upper = end >= x || Near(end, x);
        if (lower && upper) return i;
    }
    return -1;
}

bool USDBase::Average(int interval, float& value, float& sum, std::int32_t& count) {
    if (useAverage_ < 2) {
        lastInterval_ = interval;
        return true;
    }
    // A group never spans two intervals: one left unfinished is dropped, like the last group
    // of a pass.
    if (interval != lastInterval_) {
        sum = 0.0f;
        count = 0;
        lastInterval_ = interval;
    }
    sum += value;
    if (++count < useAverage_) return false;
    value = sum / static_cast<float>(useAverage_);
    sum = 0.0f;
    count = 0;
    return true;
}

bool USDBase::IsValid(float& x) {
    const int interval = Containing(x);
    if (interval == -2) return true;
    if (interval < 0) return false;
    return Average(interval, x, xSum_, xCount_);
}

bool USDBase::IsValid(float& x, float& y) {
    const int interval = Containing(x);
    if (interval == -2) return true;
    if (interval < 0) return false;
    return Average(interval, y, ySum_, yCount_);
}

int USDBase::GetNumCol(int count, double first, double spacing) {
    Reset();
    int columns = 0;
    for (int i = 0; i < count; ++i) {
        float x = static_cast<float>(first + static_cast<double>(i) * spacing);
        if (IsValid(x)) ++columns;
    }
    return columns;
}

int USDBase::GetDefaults(float*, float*, int) { return 0; }

bool USDBase::GetUSDConstraintsFromString(const std::string& text, USDConstraints& out) {
    std::unique_ptr<TinyXML2Section> document = TinyXML2Section::CreateXMLSectionFromString(text.c_str());
    if (!document) return false;
    std::unique_ptr<ConfigurationSection> settings = document->GetSection(kSettings);
    if (!settings) return false;
    if (!settings->ReadKey(kIncludeOrdinalValues, out.IncludeOrdinalValues)) return false;
    if (!settings->ReadKey(kIncludeAllValues, out.IncludeAllValues)) return false;
    int count = 0, average = 0;
    if (!settings->ReadKey(kNumberOfIncludedIntervals, count)) return false;
    out.NumberOfIncludedIntervals = count;
    if (!settings->ReadKey(kUseAverage, average)) return false;
    out.UseAverage = average;
    std::vector<float> starts, ends;
    if (!settings->ReadKey(kIncludeXStartPt, starts) || !settings->ReadKey(kIncludeXEndPt, ends)) return false;
    // A negative count matches no list, so it fails here too.
    if (count < 0 || starts.size() != static_cast<std::size_t>(count) || ends.size() != static_cast<std::size_t>(count))
        return false;
    out.IncludeXStartPt = std::move(starts);
    out.IncludeXEndPt = std::move(ends);
    return true;
}

bool USDBase::GetStringFromUSDConstraints(const USDConstraints& in, std::string& text) {
    TinyXML2Section document;
    std::unique_ptr<ConfigurationSection> settings = document.CreateSection(kSettings);
    if (!settings) return false;
    settings->WriteKey(kIncludeOrdinalValues, in.IncludeOrdinalValues);
    settings->WriteKey(kIncludeAllValues, in.IncludeAllValues);
    settings->WriteKey(kNumberOfIncludedIntervals, static_cast<int>(in.NumberOfIncludedIntervals));
    settings->WriteKey(kUseAverage, static_cast<int>(in.UseAverage));
    // One entry per interval, whatever else the arrays hold.
    const std::size_t count = in.NumberOfIncludedIntervals > 0 ? static_cast<std::size_t>(in.NumberOfIncludedIntervals) : 0;
    auto firstEntries = [count](const std::vector<float>& values) {
        return std::vector<float>(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(std::min(count, values.size())));
    };
    settings->WriteKey(kIncludeXStartPt, firstEntries(in.IncludeXStartPt));
    settings->WriteKey(kIncludeXEndPt, firstEntries(in.IncludeXEndPt));
    return document.Flush(text, false);
}

std::string USDBase::ToOptionsBytes(const USDConstraints& in) {
    std::string text;
    GetStringFromUSDConstraints(in, text);
    std::ostringstream out;
    WriteBinaryString(out, text);
    return out.str();
}

std::string USDBase::TextFromOptionsBytes(const char* data, std::size_t size) {
    std::istringstream in(std::string(data ? data : "", data ? size : 0));
    in.exceptions(std::ios_base::failbit | std::ios_base::badbit | std::ios_base::eofbit);
    std::string text;
    if (!ReadBinaryString(in, text)) throw std::ios_base::failure("options are not a binary string");
    return text;
}
