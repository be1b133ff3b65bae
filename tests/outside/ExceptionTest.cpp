#include "outside/utl/Exception.h"

#include <gtest/gtest.h>

TEST(ExceptionMessage, FillsNumberedPlaceholdersInOrderAndNeverFillsValuesAgain) {
    ExceptionMessage m = ExceptionMessage::translate("RemoveColumn: Column index out of range. Number of Columns: {1}");
    EXPECT_EQ((m % 7).str(), "RemoveColumn: Column index out of range. Number of Columns: 7");
    ExceptionMessage two = ExceptionMessage::translate("%2% of %1% (%2%)");
    EXPECT_EQ((two % std::string("file.spc") % 3).str(), "3 of file.spc (3)");
    // A file name that happens to look like a placeholder stays as it is.
    EXPECT_EQ((ExceptionMessage("%1% and %2%") % "100%2%" % "x").str(), "100%2% and x");
    EXPECT_EQ((ExceptionMessage("{1}:{2}") % "{2}" % "b").str(), "{2}:b");
    // Placeholders without a value and stray percent signs stay.
    EXPECT_EQ((ExceptionMessage("50% of %1% and %3%") % "a").str(), "50% of a and %3%");
}
