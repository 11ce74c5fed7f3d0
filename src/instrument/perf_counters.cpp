// The counter interface and its backends. The event codes are those of the Pentium Pro family
// (family 6); the Linux backend maps them onto the kernel's perf events.
#include "instrument/perf_counters.h"

#include <linux/perf_event.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

#include "platform/debug_output.h"

namespace strata::instrument {
namespace {

constexpr std::array<EventInfo, kEventCount> kEvents{{
    {0x60030300u, "P6_STRBB", "Store Buffer Block"},                             // 0
    {0x60040300u, "P6_STBDC", "Store Buffer Drain Cycles"},                      // 1
    {0x60050300u, "P6_MISMM", "Misaligned Data Memory Reference"},               // 2
    {0x60060300u, "P6_SEGLD", "Segment register loads"},                         // 3
    {0x60100100u, "P6_FPOPE", "FP Computational Op. (COUNTER 0 ONLY)"},          // 4
    {0x60110200u, "P6_FPEOA", "FP Microcode Exceptions (COUNTER 1 ONLY)"},       // 5
    {0x60120200u, "P6_FMULT", "Multiplies (COUNTER 1 ONLY)"},                    // 6
    {0x60130200u, "P6_FPDIV", "Divides (COUNTER 1 ONLY)"},                       // 7
    {0x60140200u, "P6_DBUSY", "Cycles Divider Busy  (COUNTER 1 ONLY)"},          // 8
    {0x60210300u, "P6_L2STR", "L2 address strobes => address bus utilization"},  // 9
    {0x60220300u, "P6_L2BBS", "Cycles L2 Bus Busy"},                             // 10
    {0x60230300u, "P6_L2BBT", "Cycles L2 Bus Busy transferring data to CPU"},    // 11
    {0x60240300u, "P6_L2ALO", "L2 Lines Allocated"},                             // 12
    {0x60250300u, "P6_L2MAL", "L2 M-state Lines Allocated"},                     // 13
    {0x60260300u, "P6_L2CEV", "L2 Lines Evicted"},                               // 14
    {0x60270300u, "P6_L2MEV", "L2 M-state Lines Evicted"},                       // 15
    {0x60280301u, "P6_L2MCF", "L2 Cache Instruction Fetch Misses"},              // 16
    {0x6028030Fu, "P6_L2FET", "L2 Cache Instruction Fetches"},                   // 17
    {0x60290301u, "P6_L2DRM", "L2 Cache Read Misses"},                           // 18
    {0x6029030Fu, "P6_L2DMR", "L2 Cache Reads"},                                 // 19
    {0x602A0301u, "P6_L2DWM", "L2 Cache Write Misses"},                          // 20
    {0x602A030Fu, "P6_L2DMW", "L2 Cache Writes"},                                // 21
    {0x602E0301u, "P6_L2CMS", "L2 Cache Request Misses"},                        // 22
    {0x602E030Fu, "P6_L2DCR", "L2 Cache Requests"},                              // 23
    {0x60430300u, "P6_DMREF", "Data Memory References"},                         // 24
    {0x6045030Fu, "P6_DCALO", "L1 Lines Allocated"},                             // 25
    {0x60460300u, "P6_DCMAL", "L1 M-state Data Cache Lines Allocated"},          // 26
    {0x60470300u, "P6_DCMEV", "L1 M-state Data Cache Lines Evicted"},            // 27
    {0x60480300u, "P6_DCOUT", "L1 Misses outstanding"},                          // 28
    {0x60520300u, "P6_TSMCD", "Time Self-Modifiying Code Detected"},             // 29
    {0x60600300u, "P6_BRWRA", "External Bus Cycles While Receive Active"},       // 30
    {0x60600300u, "P6_BRDCD", "External Bus Request Outstanding"},               // 31
    {0x60610300u, "P6_BRBNR", "External Bus Cycles While BNR Asserted"},         // 32
    {0x60620300u, "P6_BUSBS", "External Bus Cycles-DRDY Asserted (busy)"},       // 33
    {0x60630300u, "P6_BLOCK", "External Bus Cycles-LOCK signal asserted"},       // 34
    {0x60640300u, "P6_BBRCV", "External Bus Cycles-Processor receiving data"},   // 35
    {0x60650300u, "P6_BURST", "External Bus Burst Read Operations"},             // 36
    {0x60660300u, "P6_BRINV", "External Bus Read for Ownership Transaction"},    // 37
    {0x60670300u, "P6_BMLEV", "External Bus Writeback M-state Evicted"},         // 38
    {0x60680300u, "P6_BBIFT", "External Bus Burst Instruction Fetches"},         // 39
    {0x60690300u, "P6_BINVL", "External Bus Invalidate Transactions"},           // 40
    {0x606A0300u, "P6_BPRBT", "External Bus Partial Read Transactions"},         // 41
    {0x606B0300u, "P6_BPTMO", "External Bus Partial Memory Transactions"},       // 42
    {0x606C0300u, "P6_BUSIO", "External Bus I/O Bus Transactions"},              // 43
    {0x606D0300u, "P6_BUSDF", "External Bus Deferred Transactions"},             // 44
    {0x606E0300u, "P6_BUSTB", "External Bus Burst Transactions"},                // 45
    {0x606F0300u, "P6_BMALL", "External Bus Memory Transactions"},               // 46
    {0x60700300u, "P6_BSALL", "External Bus Transactions"},                      // 47
    {0x60790300u, "P6_CLOCK", "Clockticks"},                                     // 48
    {0x607A0300u, "P6_BRHIT", "External Bus Cycles While HIT Asserted"},         // 49
    {0x607B0300u, "P6_BRHTM", "External Bus Cycles While HITM Asserted"},        // 50
    {0x607E0300u, "P6_BRSST", "External Bus Cycles While Snoop Stalled"},        // 51
    {0x60800300u, "P6_CMREF", "Total Instruction Fetches"},                      // 52
    {0x60810300u, "P6_TOIFM", "Total Instruction Fetch Misses"},                 // 53
    {0x60850300u, "P6_INTLB", "Instructions TLB Misses"},                        // 54
    {0x60860300u, "P6_CSFET", "Cycles Instruction Fetch Stalled"},               // 55
    {0x60870300u, "P6_FTSTL", "Cycles Instruction Fetch stalled"},               // 56
    {0x60A20300u, "P6_RSTAL", "Resource Related Stalls"},                        // 57
    {0x60B00300u, "P6_MMXIE", "MMX Instructions Executed"},                      // 58
    {0x60B10300u, "P6_SAISE", "Saturated Arithmetic Instructions Executed"},     // 59
    {0x60B20301u, "P6_PORT0", "MMX micro-ops executed on Port 0"},               // 60
    {0x60B20302u, "P6_PORT1", "MMX micro-ops executed on Port 1"},               // 61
    {0x60B20304u, "P6_PORT2", "MMX micro-ops executed on Port 2"},               // 62
    {0x60B20308u, "P6_PORT3", "MMX micro-ops executed on Port 3"},               // 63
    {0x60B30300u, "P6_MMXPA", "MMX Packed Arithmetic"},                          // 64
    {0x60B30301u, "P6_MMXPM", "MMX Packed Multiply"},                            // 65
    {0x60B30302u, "P6_MMXPS", "MMX Packed Shift"},                               // 66
    {0x60B30304u, "P6_MMXPO", "MMX Packed Operations"},                          // 67
    {0x60B30308u, "P6_MMXUO", "MMX Unpacked Operations"},                        // 68
    {0x60B30310u, "P6_MMXPL", "MMX Packed Logical"},                             // 69
    {0x60C00300u, "P6_INSTR", "Instructions Retired"},                           // 70
    {0x60C10100u, "P6_FPOPS", "FP operations retired (COUNTER 0 ONLY)"},         // 71
    {0x60C20300u, "P6_UOPSR", "Micro-Ops Retired"},                              // 72
    {0x60C40300u, "P6_BRRET", "Branch Instructions Retired"},                    // 73
    {0x60C50300u, "P6_BRMSR", "Branch Mispredictions Retired"},                  // 74
    {0x60C60300u, "P6_MASKD", "Clocks while interrupts masked"},                 // 75
    {0x60C70300u, "P6_MSKPN", "Clocks while interrupt is pending"},              // 76
    {0x60C80300u, "P6_HWINT", "Hardware Interrupts Received"},                   // 77
    {0x60C90300u, "P6_BTAKR", "Taken Branch Retired"},                           // 78
    {0x60CA0300u, "P6_BTAKM", "Taken Branch Mispredictions"},                    // 79
    {0x60CC0301u, "P6_FPMMX", "Transitions from Floating Point to MMX"},         // 80
    {0x60CC0300u, "P6_MMXFP", "Transitions from MMX to Floating Point"},         // 81
    {0x60CD0300u, "P6_SIMDA", "SIMD Assists (EMMS Instructions Executed)"},      // 82
    {0x60CE0300u, "P6_MMXIR", "MMX Instructions Retired"},                       // 83
    {0x60CF0300u, "P6_SAISR", "Saturated Arithmetic Instructions Retired"},      // 84
    {0x60D00300u, "P6_INSTD", "Instructions Decoded"},                           // 85
    {0x60D20300u, "P6_NPRTL", "Renaming Stalls"},                                // 86
    {0x60D40301u, "P6_SRSES", "Segment Rename Stalls - ES"},                     // 87
    {0x60D40302u, "P6_SRSDS", "Segment Rename Stalls - DS"},                     // 88
    {0x60D40304u, "P6_SRSFS", "Segment Rename Stalls - FS"},                     // 89
    {0x60D40308u, "P6_SRSGS", "Segment Rename Stalls - GS"},                     // 90
    {0x60D4030Fu, "P6_SRSXS", "Segment Rename Stalls - ES DS FS GS"},            // 91
    {0x60D50301u, "P6_SRNES", "Segment Renames - ES"},                           // 92
    {0x60D50302u, "P6_SRNDS", "Segment Renames - DS"},                           // 93
    {0x60D50304u, "P6_SRNFS", "Segment Renames - FS"},                           // 94
    {0x60D50308u, "P6_SRNGS", "Segment Renames - GS"},                           // 95
    {0x60D5030Fu, "P6_SRNXS", "Segment Renames - ES DS FS GS"},                  // 96
    {0x60E00300u, "P6_BRDEC", "Branch Instructions Decoded"},                    // 97
    {0x60E20301u, "P6_BTBMS", "BTB Misses"},                                     // 98
    {0x60E40300u, "P6_RETDC", "Bogus Branches"},                                 // 99
    {0x60E60300u, "P6_BACLR", "BACLEARS Asserted (Testing)"},                    // 100
}};

// Vendor string and family from the processor identification (empty and 0 elsewhere).
void cpuIdentity(std::string& vendor, int& family, int& model) {
    vendor.clear();
    family = 0;
    model = 0;
#if defined(__x86_64__) || defined(__i386__)
    unsigned a = 0;
    unsigned b = 0;
    unsigned c = 0;
    unsigned d = 0;
    if (__get_cpuid(0, &a, &b, &c, &d) != 0) {
        char text[13] = {};
        std::memcpy(text, &b, 4);
        std::memcpy(text + 4, &d, 4);
        std::memcpy(text + 8, &c, 4);
        vendor = text;
    }
    if (__get_cpuid(1, &a, &b, &c, &d) != 0) {
        family = static_cast<int>((a >> 8) & 0xF);
        model = static_cast<int>((a >> 4) & 0xF);
    }
#endif
}

class LinuxCounterBackend : public CounterBackend {
  public:
    ~LinuxCounterBackend() override { Close(); }

    bool Open(std::string& why) override {
        cpuIdentity(vendor_, cpuFamily_, cpuModel_);
        // A trial cycles counter says whether the kernel lets this process count at all.
        perf_event_attr attr{};
        setGeneric(attr, PERF_TYPE_HARDWARE, PERF_COUNT_HW_CPU_CYCLES);
        const int fd = openCounter(attr, true);
        if (fd < 0) {
            why = std::string("perf_event_open: ") + std::strerror(errno);
            return false;
        }
        ::close(fd);
        return true;
    }

    void Close() override {
        for (int& fd : fds_) {
            if (fd >= 0) {
                ::close(fd);
                fd = -1;
            }
        }
    }

    std::string Vendor() const override { return vendor_; }
    // The backend translates the family-6 codes of the event table on any processor.
    int Family() const override { return 6; }

    bool Select(int counter, std::uint32_t code, std::uint32_t select) override {
        int& fd = fds_[static_cast<std::size_t>(counter)];
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
        perf_event_attr attr{};
        if (!mapEvent(code, attr)) {
            return false;
        }
        attr.exclude_user = (select & 0x10000u) != 0 ? 0 : 1;
        fd = openCounter(attr, (select & 0x20000u) != 0);
        return fd >= 0;
    }

    bool Zero(int counter) override {
        const int fd = fds_[static_cast<std::size_t>(counter)];
        return fd >= 0 && ::ioctl(fd, PERF_EVENT_IOC_RESET, 0) == 0;
    }

    bool Read(int counter, std::int64_t& value) override {
        const int fd = fds_[static_cast<std::size_t>(counter)];
        std::uint64_t count = 0;
        if (fd < 0 || ::read(fd, &count, sizeof count) != static_cast<ssize_t>(sizeof count)) {
            return false;
        }
        value = static_cast<std::int64_t>(count);
        return true;
    }

  private:
    static void setGeneric(perf_event_attr& attr, std::uint32_t type, std::uint64_t config) {
        attr.size = sizeof attr;
        attr.type = type;
        attr.config = config;
        attr.exclude_hv = 1;
    }
    static std::uint64_t cacheConfig(std::uint64_t cache, std::uint64_t op, std::uint64_t result) {
        return cache | (op << 8) | (result << 16);
    }

    bool mapEvent(std::uint32_t code, perf_event_attr& attr) const {
        const std::uint32_t event = (code >> 16) & 0xFF;
        const std::uint32_t unitMask = code & 0xFF;
        switch (event) {
            case 0x79:  // clock ticks
                setGeneric(attr, PERF_TYPE_HARDWARE, PERF_COUNT_HW_CPU_CYCLES);
                return true;
            case 0x43:  // data memory references
                setGeneric(attr, PERF_TYPE_HW_CACHE,
                           cacheConfig(PERF_COUNT_HW_CACHE_L1D, PERF_COUNT_HW_CACHE_OP_READ,
                                       PERF_COUNT_HW_CACHE_RESULT_ACCESS));
                return true;
            case 0x45:  // L1 lines allocated
                setGeneric(attr, PERF_TYPE_HW_CACHE,
                           cacheConfig(PERF_COUNT_HW_CACHE_L1D, PERF_COUNT_HW_CACHE_OP_READ,
                                       PERF_COUNT_HW_CACHE_RESULT_MISS));
                return true;
            case 0x2E:  // L2 requests (all states) and request misses
                if (unitMask == 0x0F) {
                    setGeneric(attr, PERF_TYPE_HARDWARE, PERF_COUNT_HW_CACHE_REFERENCES);
                    return true;
                }
                if (unitMask == 0x01) {
                    setGeneric(attr, PERF_TYPE_HARDWARE, PERF_COUNT_HW_CACHE_MISSES);
                    return true;
                }
                break;
            case 0xC0:  // instructions retired
                setGeneric(attr, PERF_TYPE_HARDWARE, PERF_COUNT_HW_INSTRUCTIONS);
                return true;
            case 0xC4:  // branches retired
                setGeneric(attr, PERF_TYPE_HARDWARE, PERF_COUNT_HW_BRANCH_INSTRUCTIONS);
                return true;
            case 0xC5:  // branch mispredictions retired
                setGeneric(attr, PERF_TYPE_HARDWARE, PERF_COUNT_HW_BRANCH_MISSES);
                return true;
            default:
                break;
        }
        // Raw codes mean something only on the processors they were defined for.
        if (vendor_ == "GenuineIntel" && cpuFamily_ == 6 && cpuModel_ <= 0x0E) {
            setGeneric(attr, PERF_TYPE_RAW, (unitMask << 8) | event);
            return true;
        }
        return false;
    }

    // Opens a counter for this process on any processor, started; with kernel counting
    // refused, falls back to user level only.
    static int openCounter(perf_event_attr& attr, bool kernel) {
        attr.disabled = 0;
        attr.exclude_kernel = kernel ? 0 : 1;
        long fd = ::syscall(SYS_perf_event_open, &attr, 0, -1, -1, 0);
        if (fd < 0 && kernel && (errno == EACCES || errno == EPERM)) {
            attr.exclude_kernel = 1;
            fd = ::syscall(SYS_perf_event_open, &attr, 0, -1, -1, 0);
        }
        return static_cast<int>(fd);
    }

    std::string vendor_;
    int cpuFamily_ = 0;
    int cpuModel_ = 0;
    std::array<int, 2> fds_{-1, -1};
};

}  // namespace

std::span<const EventInfo> eventTable() {
    return kEvents;
}

const EventInfo* eventByNumber(int number) {
    if (number < 0 || number >= kEventCount) {
        return nullptr;
    }
    return &kEvents[static_cast<std::size_t>(number)];
}

std::uint32_t eventSelectValue(std::uint32_t code, bool user, bool os) {
    const std::uint32_t eventSelect = (code >> 16) & 0xFFu;
    const std::uint32_t unitMask = code & 0xFFu;
    return eventSelect | unitMask << 8 | (user ? 1u : 0u) << 16 | (os ? 1u : 0u) << 17 | 0x440000u;
}

std::unique_ptr<CounterBackend> makeLinuxCounterBackend() {
    return std::make_unique<LinuxCounterBackend>();
}

bool FakeCounterBackend::Open(std::string& why) {
    ++opens;
    if (!openResult) {
        why = "no counters in this test";
    }
    return openResult;
}

bool FakeCounterBackend::Select(int counter, std::uint32_t code, std::uint32_t select) {
    if (std::find(unmapped.begin(), unmapped.end(), code) != unmapped.end()) {
        return false;
    }
    selects.push_back({counter, code, select});
    selected_[static_cast<std::size_t>(counter)] = code;
    return true;
}

bool FakeCounterBackend::Zero(int /*counter*/) {
    ++zeros;
    return true;
}

bool FakeCounterBackend::Read(int counter, std::int64_t& value) {
    ++reads;
    value = 0;
    for (const auto& [code, count] : counts) {
        if (code == selected_[static_cast<std::size_t>(counter)]) {
            value = count;
        }
    }
    value += readIncrement;
    return true;
}

PerfCounters::PerfCounters(std::unique_ptr<CounterBackend> backend)
    : backend_(std::move(backend)) {}

PerfCounters::~PerfCounters() {
    PerfClose();
}

int PerfCounters::PerfInit() {
    if (counterDeviceOpen != 0) {
        return 1;
    }
    if (!backend_) {
        reason_ = "no counter backend";
        return 0;
    }
    std::string why;
    if (!backend_->Open(why)) {
        reason_ = why;
        return 0;
    }
    cpuVendor = backend_->Vendor();
    const int family = backend_->Family();
    if (family != 5 && family != 6) {
        backend_->Close();
        reason_ = platform::formatString("processor family %d has no counter events", family);
        return 0;
    }
    counterDeviceOpen = 1;
    cpuFamily = family;
    reason_.clear();
    if (family == 6) {
        const std::uint32_t clock = kEvents[48].code;
        PerfSelectEvent(clock, 0, true, true);
        PerfSelectEvent(clock, 1, true, true);
    }
    return 1;
}

int PerfCounters::PerfClose() {
    if (counterDeviceOpen == 0 || !backend_) {
        return 0;
    }
    backend_->Close();
    counterDeviceOpen = 0;
    return 1;
}

int PerfCounters::PerfSelectEvent(std::uint32_t code, int counter, bool user, bool os) {
    if ((counter != 0 && counter != 1) || counterDeviceOpen == 0) {
        return 0;
    }
    const int family = static_cast<int>(code >> 28);
    if (family != cpuFamily || ((code >> 8) & static_cast<std::uint32_t>(counter + 1) & 3u) == 0) {
        return 0;
    }
    return backend_->Select(counter, code, eventSelectValue(code, user, os)) ? 1 : 0;
}

int PerfCounters::PerfReadMsr(std::uint32_t /*index*/, std::uint64_t& value) {
    value = 0;
    return 0;
}

int PerfCounters::PerfWriteMsr(std::uint32_t /*index*/, std::uint32_t /*low*/,
                               std::uint32_t /*high*/) {
    return 0;
}

int PerfCounters::PerfZero(int counter) {
    if ((counter != 0 && counter != 1) || counterDeviceOpen == 0) {
        return 0;
    }
    return backend_->Zero(counter) ? 1 : 0;
}

int PerfCounters::PerfRead(int counter, std::int64_t& value) {
    value = 0;
    if ((counter != 0 && counter != 1) || counterDeviceOpen == 0) {
        return 0;
    }
    return backend_->Read(counter, value) ? 1 : 0;
}

PerfCounters& counters() {
    static PerfCounters instance(makeLinuxCounterBackend());
    return instance;
}

void printCounterTable(const CounterTable& table, bool available, std::string_view reason) {
    if (!available) {
        platform::debugPrintf("performance counters unavailable (%.*s)\n",
                              static_cast<int>(reason.size()), reason.data());
    }
    platform::debugOutput(kDashLine);
    for (std::size_t i = 0; i < table.events.size(); ++i) {
        const EventInfo* event = eventByNumber(table.events[i]);
        if (event == nullptr) {
            continue;
        }
        const int mnemonicSize = static_cast<int>(event->mnemonic.size());
        const int descriptionSize = static_cast<int>(event->description.size());
        if (i >= table.counted.size() || table.counted[i] == 0) {
            platform::debugPrintf("%.*s: %13s \t%.*s\n", mnemonicSize, event->mnemonic.data(),
                                  "unavailable", descriptionSize, event->description.data());
            continue;
        }
        platform::debugPrintf("%.*s: %13" PRId64 " \t%.*s\n", mnemonicSize, event->mnemonic.data(),
                              table.totals[i], descriptionSize, event->description.data());
    }
    platform::debugOutput(kDashLine);
}

}  // namespace strata::instrument
