// A host that imports a batch of files in parallel: several threads, each with its own
// helper, read different formats at the same time, and each thread gets its own tables and
// its own error messages. Run under ThreadSanitizer this also shows any state shared between
// readers.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "HostTestSupport.h"
#include "host/ImportHelperBase.h"
#include "tests/formats/spectral/SpectralTestSupport.h"

using namespace kelto::test;
using namespace kelto::test::spectral;
using hosttest::Cells;

namespace {

struct Job {
    const char* format;
    std::string good, bad;     // paths
    std::string table, error;  // what the good file gives, the bad file's message
};

}  // namespace

TEST(ConcurrentReads, EachThreadGetsItsOwnTablesAndMessages) {
    TempDir dir;
    const std::string dif = "TABLE\n0,1\n\"\"\nVECTORS\n0,2\n\"\"\nTUPLES\n0,2\n\"\"\nDATA\n0,0\n\"\"\n"
                            "-1,0\nBOT\n1,0\n\"name\"\n0,7\nV\n-1,0\nBOT\n1,0\n\"other\"\n0,-2.5\nV\n-1,0\nEOD\n";
    Write(dir, "bin.txt", Bytes{'a', 0, 1, 2, 0, 'b', '\n', 0, 0, 0});
    std::vector<Job> jobs = {
        {"Text File", Write(dir, "t.txt", {}), dir.File("bin.txt"), "a|b;1|2.5;",
         "This file appears to be a binary file and cannot be imported. Only ordinary text (ASCII) files can be "
         "imported."},
        {"CSV File", Write(dir, "c.csv", {}), dir.File("missing.csv"), "x|y;3|q,r;", "Failed to open stream for reading."},
        {"DIF File", Write(dir, "d.dif", {}), Write(dir, "bad.dif", {}), "name|7;other|-2.5;",
         "An error was found in a DIF record."},
        {"NSAS File", Write(dir, "n.da", BuildDa({{.number = 5, .end = 1106, .n = 3, .base = 2.0f}})),
         Write(dir, "cut.da", Bytes(100, 1)), "",
         "Spectra header in DA-file is corrupt! Spectra header contains corrupt information about starting, ending "
         "wavelength, or number of data points."},
    };
    WriteFile(jobs[0].good, "a\tb\n1\t2.5\n");
    WriteFile(jobs[1].good, "x,y\n3,\"q,r\"\n");
    WriteFile(jobs[2].good, dif);
    WriteFile(jobs[2].bad, "TABLE\n0,1\n\"\"\nDATA\n0,0\n\"\"\n-1,0\nBOT\n7,0\nzzz\n");

    // One helper per thread, made before the threads start, as a host would at start-up.
    std::vector<std::unique_ptr<ImportHelperBase>> helpers;
    std::vector<int> index;
    for (Job& job : jobs) {
        helpers.push_back(std::make_unique<ImportHelperBase>(nullptr, nullptr));
        int i = 1;
        while (helpers.back()->GetFormatName(i) && std::string(helpers.back()->GetFormatName(i)) != job.format) ++i;
        ASSERT_NE(helpers.back()->GetFormatName(i), nullptr) << job.format;
        index.push_back(i);
        // The same read alone first: what every concurrent read must give again.
        FloatStringSpreadsheetData alone;
        ASSERT_TRUE(helpers.back()->ReadSpreadsheetFile({job.good}, i, &alone, nullptr, true, nullptr))
            << helpers.back()->GetErrorMessage();
        if (job.table.empty()) {
            // The NSAS table is long: its shape and corner cells, then the whole of it as read alone.
            EXPECT_EQ(std::to_string(alone.GetNumberOfColumns()) + "x" + std::to_string(alone.GetNumberOfRows()), "7x3");
            EXPECT_EQ(alone.GetStringValue(2, 3) + " " + alone.GetStringValue(7, 3), "5 2.5");
            job.table = Cells(alone);
        }
        EXPECT_EQ(Cells(alone), job.table) << job.format;
    }

    constexpr int kRounds = 25;
    std::vector<std::vector<std::string>> seen(jobs.size());
    std::vector<std::thread> threads;
    for (std::size_t j = 0; j < jobs.size(); ++j) {
        threads.emplace_back([&, j] {
            ImportHelperBase& helper = *helpers[j];
            for (int round = 0; round < kRounds; ++round) {
                FloatStringSpreadsheetData good, bad;
                if (!helper.ReadSpreadsheetFile({jobs[j].good}, index[j], &good, nullptr, true, nullptr))
                    seen[j].push_back("failed: " + helper.GetErrorMessage());
                else if (Cells(good) != jobs[j].table)
                    seen[j].push_back("table: " + Cells(good));
                helper.ReadSpreadsheetFile({jobs[j].bad}, index[j], &bad, nullptr, true, nullptr);
                if (helper.GetErrorMessage() != jobs[j].error)
                    seen[j].push_back("message: " + helper.GetErrorMessage());
            }
        });
    }
    for (std::thread& t : threads) t.join();
    for (std::size_t j = 0; j < jobs.size(); ++j)
        EXPECT_EQ(seen[j], std::vector<std::string>{}) << jobs[j].format;
}
