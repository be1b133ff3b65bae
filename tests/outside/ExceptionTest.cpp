#include "outside/utl/Exception.h"

#include <gtest/gtest.h>

TEST(ExceptionMessage, FillsNumberedPlaceholdersInOrder) {
    ExceptionMessage m = ExceptionMessage::translate("RemoveColumn: Column index out of range. Number of Columns: {1}");
    m % 7;
    EXPECT_EQ(m.str(), "RemoveColumn: Column index out of range. Number of Columns: 7");

    ExceptionMessage two = ExceptionMessage::translate("%2% of %1% (%2%)");
    two % std::string("file.spc") % 3;
    EXPECT_EQ(two.str(), "3 of file.spc (3)");
}

TEST(ExceptionMessage, ValuesAreNeverFilledAgain) {
    // A file name that happens to look like a placeholder stays as it is.
    ExceptionMessage m("%1% and %2%");
    m % "100%2%" % "x";
    EXPECT_EQ(m.str(), "100%2% and x");
    ExceptionMessage braces("{1}:{2}");
    braces % "{2}" % "b";
    EXPECT_EQ(braces.str(), "{2}:b");
    // Placeholders without a value and stray percent signs stay.
    ExceptionMessage partial("50% of %1% and %3%");
    partial % "a";
    EXPECT_EQ(partial.str(), "50% of a and %3%");
}

TEST(Exception, CarriesTheFilledMessage) {
    try {
        throw Exception(ExceptionMessage::translate("Invalid file open option format"));
    } catch (const Exception& e) {
        EXPECT_EQ(e.Why(std::locale()), "Invalid file open option format");
        EXPECT_STREQ(e.what(), "Invalid file open option format");
    }
    try {
        ExceptionMessage m = ExceptionMessage::translate("%1% does not seem to be a supported Bruker OPUS file.");
        throw Exception(m % "a.0");
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "a.0 does not seem to be a supported Bruker OPUS file.");
    }
}
