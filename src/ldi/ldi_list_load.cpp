#include "ldi/ldi_list_load.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>
#include <set>

#include "ldi/ldi_factory.h"
#include "ldi/ldi_file.h"
#include "ldi/ldi_list.h"
#include "ldi/ldi_rtff_layout.h"
#include "platform/debug_output.h"
#include "platform/number_parse.h"

namespace strata::ldi {
namespace {

std::mutex gBudgetMutex;
std::optional<std::uint64_t> gBudgetOverride;

std::optional<std::pair<std::uint64_t, std::uint64_t>> identityOf(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return std::nullopt;
    }
    return std::make_pair(static_cast<std::uint64_t>(info.st_dev),
                          static_cast<std::uint64_t>(info.st_ino));
}

std::optional<std::uint64_t> estimateFile(const std::string& path, int depth) {
    const std::string quadSuffix = ".ldiquad";
    if (path.ends_with(quadSuffix)) {
        if (depth > 0) {
            return std::nullopt;
        }
        std::vector<ListToken> tokens;
        std::string error;
        bool opened = false;
        if (!readListTokens(path, tokens, error, opened) || tokens.size() < 2) {
            return std::nullopt;
        }
        std::uint64_t total = 0;
        for (std::size_t i = 0; i < 2; ++i) {
            std::string refusal;
            const std::string half = resolveListMember(path, tokens[i].text, &refusal);
            if (refusal.empty()) {
                total += estimateFile(half, depth + 1).value_or(0);
            }
        }
        return total;
    }
    LdiFileReader file;
    if (!file.open(path)) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes(LdiHeader::kSize);
    if (!file.read(bytes.data(), bytes.size(), "the header")) {
        return std::nullopt;
    }
    LdiHeader header;
    header.deserialize(bytes);
    std::unique_ptr<LdiBase> ldi = CreateLdi(header.ldiType, header.dptType);
    if (!ldi || header.ldiType == toInt(LdiType::RTQuad)) {
        return std::nullopt;
    }
    ldi->header = header;
    const std::uint64_t body = ldi->StreamBodyBytes();
    if (body == 0) {
        return std::nullopt;
    }
    // The object with its tables, the culler's row ranges, and for the block kinds the header
    // block and the rounding of the two body parts.
    std::uint64_t total = body + sizeof(*ldi) + 8 * static_cast<std::uint64_t>(header.height);
    if (header.ldiType == toInt(LdiType::RTFF)) {
        total += 3 * RtffLayout::kBlock;
    }
    return total;
}

}  // namespace

std::uint64_t physicalMemoryBytes() {
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0) {
        return std::uint64_t{4} << 30;  // unknown: assume a small machine
    }
    return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize);
}

void setListMemoryBudget(std::optional<std::uint64_t> bytes) {
    const std::lock_guard lock(gBudgetMutex);
    gBudgetOverride = bytes;
}

ListBudget listMemoryBudget() {
    ListBudget budget;
    {
        const std::lock_guard lock(gBudgetMutex);
        if (gBudgetOverride) {
            budget.bytes = *gBudgetOverride;
            budget.source = "the budget set by the program";
            return budget;
        }
    }
    if (const char* text = std::getenv("STRATA_MEMORY_BUDGET"); text != nullptr && *text != '\0') {
        budget.source = "STRATA_MEMORY_BUDGET";
        if (!platform::parseByteCount(text, budget.bytes)) {
            budget.error = platform::formatString(
                "STRATA_MEMORY_BUDGET=\"%.40s\" is not a byte count such as 512M or 8G", text);
        }
        return budget;
    }
    budget.bytes = physicalMemoryBytes() / 2;
    budget.source = "half the physical memory";
    return budget;
}

std::optional<std::uint64_t> EstimateLoadedBytes(const std::string& path) {
    return estimateFile(path, 0);
}

std::string CheckListBudget(const std::vector<std::string>& paths) {
    const ListBudget budget = listMemoryBudget();
    if (!budget.error.empty()) {
        return budget.error;
    }
    std::set<std::pair<std::uint64_t, std::uint64_t>> seen;
    std::uint64_t total = 0;
    std::size_t files = 0;
    for (const std::string& path : paths) {
        const auto identity = identityOf(path);
        if (!identity || !seen.insert(*identity).second) {
            continue;
        }
        ++files;
        total += EstimateLoadedBytes(path).value_or(0);
    }
    if (total <= budget.bytes) {
        return {};
    }
    const std::string source = budget.source == "STRATA_MEMORY_BUDGET"
                                   ? "from STRATA_MEMORY_BUDGET"
                                   : budget.source + "; STRATA_MEMORY_BUDGET sets another";
    return platform::formatString(
        "its %zu distinct LDI files would take %s of memory, more than the budget of %s (%s)",
        files, platform::formatByteCount(total).c_str(),
        platform::formatByteCount(budget.bytes).c_str(), source.c_str());
}

std::shared_ptr<LdiBase> LdiLoadCache::load(const std::string& path, std::string& error) {
    const auto identity = identityOf(path);
    if (!identity) {
        error = path + ": no such file (or not a regular file)";
        return nullptr;
    }
    const auto found = entries_.find(*identity);
    if (found != entries_.end()) {
        error = found->second.error;
        return found->second.ldi;
    }
    Entry entry;
    std::unique_ptr<LdiBase> loaded = LoadLdi(path, &entry.error);
    if (loaded) {
        entry.ldi = std::move(loaded);
    } else if (entry.error.empty()) {
        entry.error = path + ": not loaded";
    }
    entries_.emplace(*identity, entry);
    error = entry.error;
    return entry.ldi;
}

}  // namespace strata::ldi
