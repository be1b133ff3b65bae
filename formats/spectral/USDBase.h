#pragma once
// Spectral constraints: which x positions of a spectrum become table columns, and what each
// column holds. Readers whose files hold spectra on one common x axis (wavenumber, wavelength,
// time) derive from SpreadsheetFile first and USDBase second, deliver one spectrum per row,
// and ask USDBase about every x position in turn:
//
//   - an optional list of x intervals: only positions inside one of them are kept;
//   - optional averaging: UseAverage consecutive kept points of one interval make one column;
//   - whether the reader adds a row holding the x value of every column.
//
// Use: SetUSDConstraints once the options are known; then for every pass over an axis
// (counting columns, the heading row, the x-value row, each spectrum) Reset, followed by one
// IsValid per x position in the axis's own order, each accepted value going into the next
// free column. Both IsValid forms make the same decisions over the same x sequence, so the
// x-value row and the spectrum rows stay aligned.
//
// Averaging takes the points of one interval only and every point once: when a point lies in
// another interval than the one before it, the unfinished group of the earlier interval is
// dropped (as the unfinished group at the end of a pass is) and the point starts a new group.
// With intervals [0,10] and [20,30], x = 1, 2, 3, 21, 22 and groups of 2 the columns are 1.5
// and 21.5: 3 has no partner in its interval and is not averaged with 21.
//
// The settings travel as XML text in a "Settings" section, and as open options as the bytes
// WriteBinaryString gives for that text.
#include <cstdint>
#include <string>
#include <vector>

#include "plugin/Export.h"
#include "plugin/QmImport.h"

struct KELTO_API USDConstraints {
    // The reader adds one row holding the x value of every column.
    bool IncludeOrdinalValues = true;
    // Every x position is kept; the intervals are ignored.
    bool IncludeAllValues = true;
    // Lower and upper bounds of the intervals, NumberOfIncludedIntervals of each; both empty
    // means "no intervals given".
    std::vector<float> IncludeXStartPt;
    std::vector<float> IncludeXEndPt;
    std::int32_t NumberOfIncludedIntervals = 0;
    // Group size of averaging; below 2 means no averaging.
    std::int32_t UseAverage = 0;

    bool operator==(const USDConstraints&) const = default;
};

class KELTO_API USDBase {
public:
    USDBase() = default;
    USDBase(const USDBase&) = default;
    USDBase& operator=(const USDBase&) = default;
    USDBase(USDBase&&) noexcept = default;
    USDBase& operator=(USDBase&&) noexcept = default;
    virtual ~USDBase();

    bool IncludeAllObservations() const { return includeAllValues_; }
    void SetIncludeAllObservations(bool all) { includeAllValues_ = all; }
    bool IncludeXAsAnObservation() const { return includeOrdinalValues_; }
    void SetIncludeXAsAnObservation(bool include) { includeOrdinalValues_ = include; }

    // Copies the settings into `out` (fresh arrays, none when there are no intervals) and
    // returns `out`.
    USDConstraints* GetUSDConstraints(USDConstraints* out) const;
    // Copies the settings from `in`. A count below 1 leaves no intervals; a count larger than
    // either array is cut to the shorter array. The running state is untouched.
    void SetUSDConstraints(const USDConstraints* in);

    // Starts a pass over an axis: forgets any running group.
    void Reset();
    // Whether x position `x` gives a column; when averaging, an accepted `x` becomes the mean
    // of its group.
    bool IsValid(float& x);
    // The same decision for the point (x, y); an accepted `y` becomes the mean of its group's
    // y values. `x` is not changed.
    bool IsValid(float& x, float& y);
    // Columns of an evenly spaced axis of `count` points, x of point i being
    // first + i * spacing. Runs a pass of its own (the running state is left as it ends).
    int GetNumCol(int count, double first, double spacing);

    // Intervals a reader proposes by default: their number, and when the arrays are given,
    // the first `count` of them written into them. The base proposes none.
    virtual int GetDefaults(float* starts, float* ends, int count);

    // The XML text of a record, and a record from such a text. Reading fails (false, `out`
    // possibly changed) unless every key is there and both lists hold exactly
    // NumberOfIncludedIntervals entries.
    static bool GetUSDConstraintsFromString(const std::string& text, USDConstraints& out);
    static bool GetStringFromUSDConstraints(const USDConstraints& in, std::string& text);

    // Open-options bytes: the binary string (WriteBinaryString) of the XML text.
    static std::string ToOptionsBytes(const USDConstraints& in);
    // The XML text held by open-options bytes. Throws std::ios_base::failure when the bytes
    // are not a complete binary string.
    static std::string TextFromOptionsBytes(const char* data, std::size_t size);

private:
    // Index of the interval holding `x`, or -1 when the point is not kept; -2 when every
    // point is kept without averaging.
    int Containing(float x) const;
    bool Average(int interval, float& value, float& sum, std::int32_t& count);

    bool includeOrdinalValues_ = true;
    bool includeAllValues_ = true;
    std::vector<float> starts_;
    std::vector<float> ends_;
    std::int32_t intervals_ = 0;
    std::int32_t useAverage_ = 0;

    // Running state of a pass.
    float xSum_ = 0.0f;
    std::int32_t xCount_ = 0;
    float ySum_ = 0.0f;
    std::int32_t yCount_ = 0;
    int lastInterval_ = -1;
};
