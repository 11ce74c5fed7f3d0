// Hardware event counters: a table of named processor events, and a small counter interface
// (initialise, select an event for counter 0 or 1, zero and read a counter) over a backend that
// owns the real counters. On Linux the backend is perf_event_open; tests use a fake one.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace strata::instrument {

// One named event. Code bits: 28..31 processor family, 16..23 event select, 8..9 the counters
// that may count it (bit 8 counter 0, bit 9 counter 1), 0..7 unit mask.
struct EventInfo {
    std::uint32_t code = 0;
    std::string_view mnemonic;
    std::string_view description;
};

inline constexpr int kEventCount = 101;

// The 101 events in their fixed order; the row number is the event number.
std::span<const EventInfo> eventTable();
// Row `number`, or null when outside the table.
const EventInfo* eventByNumber(int number);

// The value of the event-select register for a code: event select | unit mask << 8 | user << 16 |
// os << 17 | enable and interrupt bits (0x440000).
std::uint32_t eventSelectValue(std::uint32_t code, bool user, bool os);

// What owns the counters. Open reports whether counting is possible at all; the counter index
// is 0 or 1 in every other call.
class CounterBackend {
  public:
    virtual ~CounterBackend() = default;
    // Makes the counters usable. False (with why) when they cannot be.
    virtual bool Open(std::string& why) = 0;
    virtual void Close() = 0;
    // The processor vendor string and the family whose event codes the backend counts.
    virtual std::string Vendor() const = 0;
    virtual int Family() const = 0;
    // Makes counter count the event of `code` with the event-select value `select`.
    virtual bool Select(int counter, std::uint32_t code, std::uint32_t select) = 0;
    // Sets the counter to 0.
    virtual bool Zero(int counter) = 0;
    // The counter's count since it was last zeroed or selected.
    virtual bool Read(int counter, std::int64_t& value) = 0;
};

// The Linux backend over perf_event_open. Each code maps to the kernel's generic event where
// one exists (clock ticks to cycles, data memory references and L1 lines allocated to L1 data
// accesses and misses, L2 requests and misses to cache references and misses); other codes are
// counted raw only on the processors they were defined for (Intel family 6 up to model 0x0E).
// Counts user level only where the kernel forbids counting its own work.
std::unique_ptr<CounterBackend> makeLinuxCounterBackend();

// A backend for tests: remembers every request, counts what the test puts in `counts`.
class FakeCounterBackend : public CounterBackend {
  public:
    struct SelectRequest {
        int counter = 0;
        std::uint32_t code = 0;
        std::uint32_t select = 0;
    };

    bool openResult = true;
    std::string vendor = "GenuineIntel";
    int family = 6;
    // Counts returned for an event code (0 when absent); each read adds readIncrement.
    std::vector<std::pair<std::uint32_t, std::int64_t>> counts;
    std::int64_t readIncrement = 0;
    // Event codes the backend cannot count: selecting one fails.
    std::vector<std::uint32_t> unmapped;

    std::vector<SelectRequest> selects;
    int opens = 0;
    int closes = 0;
    int zeros = 0;
    int reads = 0;
    int requests() const { return static_cast<int>(selects.size()) + zeros + reads; }

    bool Open(std::string& why) override;
    void Close() override { ++closes; }
    std::string Vendor() const override { return vendor; }
    int Family() const override { return family; }
    bool Select(int counter, std::uint32_t code, std::uint32_t select) override;
    bool Zero(int counter) override;
    bool Read(int counter, std::int64_t& value) override;

  private:
    std::array<std::uint32_t, 2> selected_{};
};

// The counter interface. One process-wide instance serves the viewer (counters()); tests make
// their own over a fake backend. Every operation returns 1 for success and 0 for failure.
class PerfCounters {
  public:
    explicit PerfCounters(std::unique_ptr<CounterBackend> backend);
    ~PerfCounters();
    PerfCounters(const PerfCounters&) = delete;
    PerfCounters& operator=(const PerfCounters&) = delete;

    // Opens the backend once: 1 when counting is possible (a later call returns 1 at once),
    // else 0 with unavailableReason() set. Selects clock ticks on both counters.
    int PerfInit();
    // Closes the backend; a later PerfInit opens it again.
    int PerfClose();
    // Counter 0 or 1 counts `code` at user and/or system level. Fails without touching the
    // backend for another counter, closed counters, a code of another family or a code the
    // counter may not count.
    int PerfSelectEvent(std::uint32_t code, int counter, bool user, bool os);
    // Model-specific registers are not reachable from user space: these always fail.
    int PerfReadMsr(std::uint32_t index, std::uint64_t& value);
    int PerfWriteMsr(std::uint32_t index, std::uint32_t low, std::uint32_t high);
    int PerfFamily() const { return cpuFamily; }
    int PerfZero(int counter);
    int PerfRead(int counter, std::int64_t& value);

    const std::string& unavailableReason() const { return reason_; }

    std::int32_t counterDeviceOpen = 0;
    std::int32_t cpuFamily = 0;
    std::string cpuVendor;

  private:
    std::unique_ptr<CounterBackend> backend_;
    std::string reason_;
};

// The process-wide counters over the Linux backend.
PerfCounters& counters();

// The counted events of one table: event numbers and their 64-bit totals, two per pass, and
// whether each total was counted (1) or could not be (0: counters unavailable, an event the
// backend cannot map, a failed read).
struct CounterTable {
    std::vector<std::int32_t> events;
    std::vector<std::int64_t> totals;
    std::vector<std::uint8_t> counted;
};

// The benchmark events in their order: clock ticks, data memory references, L1 lines
// allocated, L2 requests, L2 request misses, L2 lines allocated.
inline constexpr std::array<std::int32_t, 6> kBenchEvents{48, 24, 25, 23, 22, 12};

// Runs `pass` once per pair of events: before pass p the events 2p and 2p+1 are selected on
// counters 0 and 1 (user and system) and zeroed; afterwards their counts go to totals[2p] and
// totals[2p+1] (0 where a step failed). table.events must be set; totals are resized.
template <typename Pass>
void countPasses(PerfCounters& perf, bool available, CounterTable& table, Pass&& pass);

// The table lines: a dash line, "%s: %13lld \t%s\n" per event, the dash line again; before them
// one line saying the counters are unavailable when they are. An event that was not counted
// shows "unavailable" in place of its count, never a 0 as if measured. Each line goes to the
// debug output as one piece.
void printCounterTable(const CounterTable& table, bool available, std::string_view reason);

inline constexpr std::string_view kDashLine = "-------------------------------------\n";

template <typename Pass>
void countPasses(PerfCounters& perf, bool available, CounterTable& table, Pass&& pass) {
    table.totals.assign(table.events.size(), 0);
    table.counted.assign(table.events.size(), 0);
    for (std::size_t i = 0; i < table.events.size(); i += 2) {
        bool counting[2] = {false, false};
        for (int c = 0; c < 2 && available; ++c) {
            if (i + static_cast<std::size_t>(c) >= table.events.size()) {
                break;
            }
            const EventInfo* event = eventByNumber(table.events[i + static_cast<std::size_t>(c)]);
            counting[c] = event != nullptr &&
                          perf.PerfSelectEvent(event->code, c, true, true) != 0 &&
                          perf.PerfZero(c) != 0;
        }
        pass();
        for (int c = 0; c < 2; ++c) {
            std::int64_t value = 0;
            if (counting[c] && perf.PerfRead(c, value) != 0) {
                table.totals[i + static_cast<std::size_t>(c)] = value;
                table.counted[i + static_cast<std::size_t>(c)] = 1;
            }
        }
    }
}

}  // namespace strata::instrument
