#include "ldi/ldi_factory.h"

#include <vector>

#include "ldi/ldi_file.h"
#include "ldi/ldi_rt_cp.h"
#include "ldi/ldi_rt_mrqp.h"
#include "ldi/ldi_rt_qp.h"
#include "ldi/ldi_rt_quad.h"
#include "ldi/ldi_rtff.h"
#include "platform/debug_output.h"
#include "platform/file_io.h"

namespace strata::ldi {

std::unique_ptr<LdiBase> CreateLdi(int ldiType, int dptType) {
    const bool rt = ldiType == toInt(LdiType::RT);
    const bool rtff = ldiType == toInt(LdiType::RTFF);
    if (dptType == toInt(DptType::CP)) {
        if (rt) {
            return std::make_unique<LdiRtCp>();
        }
        if (rtff) {
            return std::make_unique<LdiRtffCp>();
        }
    } else if (dptType == toInt(DptType::QP)) {
        if (rt) {
            return std::make_unique<LdiRtQp>();
        }
        if (rtff) {
            return std::make_unique<LdiRtffQp>();
        }
        if (ldiType == toInt(LdiType::RTQuad)) {
            return std::make_unique<LdiRtQuad>();
        }
    } else if (dptType == toInt(DptType::MRQP)) {
        if (rt) {
            return std::make_unique<LdiRtMrqp>();
        }
        if (rtff) {
            return std::make_unique<LdiRtffMrqp>();
        }
    }
    return nullptr;
}

namespace {

std::unique_ptr<LdiBase> refuse(const std::string& line, std::string* error) {
    platform::debugPrintf("%s\n", line.c_str());
    if (error != nullptr) {
        *error = line;
    }
    return nullptr;
}

std::unique_ptr<LdiBase> finish(std::unique_ptr<LdiBase> ldi, const std::string& path,
                                std::string* error) {
    // The object reports its own failure line; hand the same line to the caller.
    ldi->reportErrors = true;
    if (ldi->Load(path) == 0) {
        if (error != nullptr) {
            *error = ldi->loadError();
        }
        return nullptr;
    }
    if (error != nullptr) {
        error->clear();
    }
    return ldi;
}

}  // namespace

std::unique_ptr<LdiBase> LoadLdi(const std::string& path, std::string* error) {
    if (platform::hasExtension(path, "ldiquad")) {
        return finish(std::make_unique<LdiRtQuad>(), path, error);
    }
    LdiFileReader file;
    if (!file.open(path)) {
        return refuse(path + ": " + file.problem, error);
    }
    std::vector<std::uint8_t> bytes(LdiHeader::kSize);
    if (!file.read(bytes.data(), bytes.size(), "the header")) {
        return refuse(path + ": " + file.problem, error);
    }
    LdiHeader header;
    header.deserialize(bytes);
    std::unique_ptr<LdiBase> ldi;
    if (header.ldiType == toInt(LdiType::RT) || header.ldiType == toInt(LdiType::RTFF) ||
        header.ldiType == toInt(LdiType::RTQuad)) {
        ldi = CreateLdi(header.ldiType, header.dptType);
    }
    if (!ldi) {
        return refuse(platform::formatString(
                          "%s: unknown LDI type pair (ldiType %d %s, dptType %d %s)", path.c_str(),
                          header.ldiType, std::string(ldiTypeName(header.ldiType)).c_str(),
                          header.dptType, std::string(dptTypeName(header.dptType)).c_str()),
                      error);
    }
    return finish(std::move(ldi), path, error);
}

}  // namespace strata::ldi
