// The counter interface over a fake backend: event-select values, refused selections, per-pass
// totals and the printed table.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "instrument/perf_counters.h"
#include "platform/debug_output.h"

namespace strata::instrument {
namespace {

struct FakeCounters {
    FakeCounterBackend* fake = nullptr;
    std::unique_ptr<PerfCounters> perf;

    FakeCounters() {
        auto backend = std::make_unique<FakeCounterBackend>();
        fake = backend.get();
        perf = std::make_unique<PerfCounters>(std::move(backend));
    }
};

TEST(EventTable, RowsOfTheBenchmarkEvents) {
    ASSERT_EQ(eventTable().size(), 101u);
    struct Row {
        int number;
        std::uint32_t code;
        const char* mnemonic;
        const char* description;
    };
    const Row rows[] = {
        {0, 0x60030300u, "P6_STRBB", "Store Buffer Block"},
        {12, 0x60240300u, "P6_L2ALO", "L2 Lines Allocated"},
        {22, 0x602E0301u, "P6_L2CMS", "L2 Cache Request Misses"},
        {23, 0x602E030Fu, "P6_L2DCR", "L2 Cache Requests"},
        {24, 0x60430300u, "P6_DMREF", "Data Memory References"},
        {25, 0x6045030Fu, "P6_DCALO", "L1 Lines Allocated"},
        {31, 0x60600300u, "P6_BRDCD", "External Bus Request Outstanding"},
        {48, 0x60790300u, "P6_CLOCK", "Clockticks"},
        {100, 0x60E60300u, "P6_BACLR", "BACLEARS Asserted (Testing)"},
    };
    for (const Row& row : rows) {
        const EventInfo* e = eventByNumber(row.number);
        ASSERT_NE(e, nullptr) << row.number;
        EXPECT_EQ(e->code, row.code) << row.number;
        EXPECT_EQ(e->mnemonic, row.mnemonic);
        EXPECT_EQ(e->description, row.description);
    }
    EXPECT_EQ(eventByNumber(-1), nullptr);
    EXPECT_EQ(eventByNumber(101), nullptr);
    for (const EventInfo& e : eventTable()) {
        EXPECT_EQ(e.code >> 28, 6u) << e.mnemonic;
        EXPECT_EQ(e.mnemonic.size(), 8u);
    }
}

TEST(PerfCounters, SelectValuesOfTheClockAndTheCounterZeroOnlyEvent) {
    EXPECT_EQ(eventSelectValue(0x60790300u, true, true), 0x00470079u);
    EXPECT_EQ(eventSelectValue(0x60100100u, true, true), 0x00470010u);
    EXPECT_EQ(eventSelectValue(0x6045030Fu, true, false), 0x00450F45u);
    EXPECT_EQ(eventSelectValue(0x6045030Fu, false, true), 0x00460F45u);

    FakeCounters c;
    ASSERT_EQ(c.perf->PerfInit(), 1);
    EXPECT_EQ(c.perf->PerfFamily(), 6);
    // Initialisation counts clock ticks on both counters.
    ASSERT_EQ(c.fake->selects.size(), 2u);
    EXPECT_EQ(c.fake->selects[0].counter, 0);
    EXPECT_EQ(c.fake->selects[1].counter, 1);
    EXPECT_EQ(c.fake->selects[0].select, 0x00470079u);
    EXPECT_EQ(c.fake->selects[1].select, 0x00470079u);

    EXPECT_EQ(c.perf->PerfSelectEvent(0x60100100u, 1, true, true), 0);  // counter 0 only
    EXPECT_EQ(c.fake->selects.size(), 2u);
    EXPECT_EQ(c.perf->PerfSelectEvent(0x60100100u, 0, true, true), 1);
    ASSERT_EQ(c.fake->selects.size(), 3u);
    EXPECT_EQ(c.fake->selects[2].select, 0x00470010u);
    EXPECT_EQ(c.perf->PerfSelectEvent(0x60110200u, 0, true, true), 0);  // counter 1 only
    EXPECT_EQ(c.perf->PerfSelectEvent(0x60110200u, 1, true, true), 1);
}

TEST(PerfCounters, RefusedRequestsNeverReachTheBackend) {
    FakeCounters c;
    // Closed: nothing is selected, zeroed or read.
    std::int64_t value = 7;
    EXPECT_EQ(c.perf->PerfSelectEvent(0x60790300u, 0, true, true), 0);
    EXPECT_EQ(c.perf->PerfZero(0), 0);
    EXPECT_EQ(c.perf->PerfRead(0, value), 0);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(c.fake->requests(), 0);

    ASSERT_EQ(c.perf->PerfInit(), 1);
    const int before = c.fake->requests();
    EXPECT_EQ(c.perf->PerfSelectEvent(0x60790300u, 2, true, true), 0);
    EXPECT_EQ(c.perf->PerfSelectEvent(0x60790300u, -1, true, true), 0);
    EXPECT_EQ(c.perf->PerfZero(2), 0);
    EXPECT_EQ(c.perf->PerfRead(2, value), 0);
    EXPECT_EQ(c.perf->PerfSelectEvent(0x50790300u, 0, true, true), 0);  // another family
    EXPECT_EQ(c.perf->PerfSelectEvent(0x60790000u, 0, true, true), 0);  // no counter allowed
    EXPECT_EQ(c.fake->requests(), before);

    std::uint64_t msr = 5;
    EXPECT_EQ(c.perf->PerfReadMsr(0x186, msr), 0);
    EXPECT_EQ(msr, 0u);
    EXPECT_EQ(c.perf->PerfWriteMsr(0x186, 1, 0), 0);
}

TEST(PerfCounters, InitOpensOnceAndCloseForgets) {
    FakeCounters c;
    EXPECT_EQ(c.perf->PerfInit(), 1);
    EXPECT_EQ(c.perf->PerfInit(), 1);
    EXPECT_EQ(c.fake->opens, 1);
    EXPECT_EQ(c.perf->PerfClose(), 1);
    EXPECT_EQ(c.perf->counterDeviceOpen, 0);
    EXPECT_EQ(c.perf->PerfSelectEvent(0x60790300u, 0, true, true), 0);
    EXPECT_EQ(c.perf->PerfInit(), 1);
    EXPECT_EQ(c.fake->opens, 2);

    FakeCounters refused;
    refused.fake->openResult = false;
    EXPECT_EQ(refused.perf->PerfInit(), 0);
    EXPECT_FALSE(refused.perf->unavailableReason().empty());

    FakeCounters otherFamily;
    otherFamily.fake->family = 15;
    EXPECT_EQ(otherFamily.perf->PerfInit(), 0);
    EXPECT_EQ(otherFamily.fake->closes, 1);  // not left open
    EXPECT_EQ(otherFamily.perf->counterDeviceOpen, 0);
}

TEST(PerfCounters, PassTotalsAreFilledAndPrintedInFull) {
    FakeCounters c;
    ASSERT_EQ(c.perf->PerfInit(), 1);
    // Distinct counts per event, one above 2^32.
    c.fake->counts = {{0x60790300u, 5000000000}, {0x60430300u, 24},         {0x6045030Fu, 25},
                      {0x602E030Fu, 23},         {0x602E0301u, 2147483648}, {0x60240300u, 12}};
    CounterTable table;
    table.events.assign(kBenchEvents.begin(), kBenchEvents.end());
    int passes = 0;
    countPasses(*c.perf, true, table, [&] { ++passes; });
    EXPECT_EQ(passes, 3);
    const std::vector<std::int64_t> expected{5000000000, 24, 25, 23, 2147483648, 12};
    EXPECT_EQ(table.totals, expected);
    // Each pass selects its two events on counters 0 and 1.
    ASSERT_EQ(c.fake->selects.size(), 2u + 6u);
    for (std::size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(c.fake->selects[2 + i].counter, static_cast<int>(i % 2));
        EXPECT_EQ(c.fake->selects[2 + i].code, eventByNumber(kBenchEvents[i])->code);
    }

    platform::DebugCapture capture;
    printCounterTable(table, true, "");
    const std::vector<std::string> lines{
        "-------------------------------------\n",
        "P6_CLOCK:    5000000000 \tClockticks\n",
        "P6_DMREF:            24 \tData Memory References\n",
        "P6_DCALO:            25 \tL1 Lines Allocated\n",
        "P6_L2DCR:            23 \tL2 Cache Requests\n",
        "P6_L2CMS:    2147483648 \tL2 Cache Request Misses\n",
        "P6_L2ALO:            12 \tL2 Lines Allocated\n",
        "-------------------------------------\n",
    };
    EXPECT_EQ(capture.pieces(), lines);
}

TEST(PerfCounters, UnavailableCountersStillDrawAndSayNothingWasCounted) {
    FakeCounters c;
    c.fake->openResult = false;
    const bool available = c.perf->PerfInit() != 0;
    ASSERT_FALSE(available);
    CounterTable table;
    table.events.assign(kBenchEvents.begin(), kBenchEvents.end());
    int passes = 0;
    countPasses(*c.perf, available, table, [&] { ++passes; });
    EXPECT_EQ(passes, 3);
    EXPECT_EQ(table.totals, std::vector<std::int64_t>(6, 0));
    EXPECT_EQ(table.counted, std::vector<std::uint8_t>(6, 0));

    platform::DebugCapture capture;
    printCounterTable(table, available, c.perf->unavailableReason());
    ASSERT_EQ(capture.pieces().size(), 9u);
    EXPECT_EQ(capture.pieces()[0].rfind("performance counters unavailable", 0), 0u);
    EXPECT_EQ(capture.pieces()[2], "P6_CLOCK:   unavailable \tClockticks\n");
}

// Events the backend cannot map print as unavailable, the others their counts (0 included).
TEST(PerfCounters, UnmappedEventsPrintAsUnavailable) {
    FakeCounters c;
    ASSERT_EQ(c.perf->PerfInit(), 1);
    c.fake->unmapped = {eventByNumber(25)->code, eventByNumber(12)->code};
    c.fake->counts = {{eventByNumber(48)->code, 77}};
    CounterTable table;
    table.events.assign(kBenchEvents.begin(), kBenchEvents.end());
    countPasses(*c.perf, true, table, [] {});
    EXPECT_EQ(table.counted, (std::vector<std::uint8_t>{1, 1, 0, 1, 1, 0}));
    platform::DebugCapture capture;
    printCounterTable(table, true, "");
    const std::vector<std::string> lines{
        "-------------------------------------\n",
        "P6_CLOCK:            77 \tClockticks\n",
        "P6_DMREF:             0 \tData Memory References\n",
        "P6_DCALO:   unavailable \tL1 Lines Allocated\n",
        "P6_L2DCR:             0 \tL2 Cache Requests\n",
        "P6_L2CMS:             0 \tL2 Cache Request Misses\n",
        "P6_L2ALO:   unavailable \tL2 Lines Allocated\n",
        "-------------------------------------\n",
    };
    EXPECT_EQ(capture.pieces(), lines);
}

}  // namespace
}  // namespace strata::instrument
