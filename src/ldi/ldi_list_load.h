// Loading the LDIs a list names (pyramid levels, set members) within a memory budget. Before
// anything is loaded the list's distinct files (by device and inode, so one file named under
// many names counts once) are sized from their headers; a list whose files would take more than
// the budget is refused. Levels and members naming the same file then share one loaded LDI.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ldi/ldi_base.h"

namespace strata::ldi {

// The memory a list may load: STRATA_MEMORY_BUDGET (a byte count such as "512M" or "8G") when
// set, else half the physical memory; setListMemoryBudget overrides both (nullopt goes back).
struct ListBudget {
    std::uint64_t bytes = 0;
    // "STRATA_MEMORY_BUDGET", "half the physical memory" or "the budget set by the program".
    std::string source;
    std::string error;  // a STRATA_MEMORY_BUDGET that is not a byte count
};
ListBudget listMemoryBudget();
void setListMemoryBudget(std::optional<std::uint64_t> bytes);
std::uint64_t physicalMemoryBytes();

// The bytes loading the LDI file at path will take, from its header (a quad list: its two
// halves). nullopt when the file has no usable header (it will not load either).
std::optional<std::uint64_t> EstimateLoadedBytes(const std::string& path);

// Loads each distinct file once and hands the same object to every name of it.
class LdiLoadCache {
  public:
    // The LDI loaded from path, shared with every earlier load of the same file; none with
    // error set when it does not load (every name of the file gets the same reason).
    std::shared_ptr<LdiBase> load(const std::string& path, std::string& error);

  private:
    struct Entry {
        std::shared_ptr<LdiBase> ldi;
        std::string error;
    };
    std::map<std::pair<std::uint64_t, std::uint64_t>, Entry> entries_;
};

// The estimated bytes of the distinct files among paths (files that cannot be looked at count
// 0), or "" when they fit the budget; else the one-line refusal (without the list's name).
std::string CheckListBudget(const std::vector<std::string>& paths);

}  // namespace strata::ldi
