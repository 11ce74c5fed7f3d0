#include "ldi/ldi_header.h"

#include "geometry/record_io.h"

namespace strata::ldi {

using geometry::getVector;
using geometry::putVector;

void LdiStats::serialize(platform::ByteWriter& out) const {
    for (std::int32_t v : {rays, hits, hitsOutsideFrustum, samples, samplesBlended,
                           samplesUniqueDepth, samplesUniqueNormal, depthPixels, loadMinutes,
                           loadSeconds, sampleMinutes, sampleSeconds, writeMinutes, writeSeconds}) {
        out.putI32(v);
    }
    for (float v : {complexityMin, complexityMax, complexityMean, complexityStdDev, distanceMin,
                    distanceMax, zMin, zMax}) {
        out.putF32(v);
    }
}

void LdiStats::deserialize(platform::ByteReader& in) {
    for (std::int32_t* v :
         {&rays, &hits, &hitsOutsideFrustum, &samples, &samplesBlended, &samplesUniqueDepth,
          &samplesUniqueNormal, &depthPixels, &loadMinutes, &loadSeconds, &sampleMinutes,
          &sampleSeconds, &writeMinutes, &writeSeconds}) {
        *v = in.getI32();
    }
    for (float* v : {&complexityMin, &complexityMax, &complexityMean, &complexityStdDev,
                     &distanceMin, &distanceMax, &zMin, &zMax}) {
        *v = in.getF32();
    }
}

void LdiHeader::serialize(platform::ByteWriter& out) const {
    // The first eleven words one by one.
    out.putI32(kStoredVersion);
    out.putI32(ldiType);
    out.putI32(dptType);
    out.putI32(width);
    out.putI32(height);
    out.putI32(pixelCount);
    for (std::int32_t v : reserved) {
        out.putI32(v);
    }
    out.putI32(binBits);
    // Then the field blocks, no padding.
    stats.serialize(out);
    out.putF32(generatorFloat);
    out.putI32(generatorInt);
    putVector(out, boundsMin);
    putVector(out, boundsMax);
    view.serializeInMemoryOrder(out);
    camera.serialize(out);
    out.putI32(binCount);
    for (float v : bins) {
        out.putF32(v);
    }
    for (std::int32_t v : extra) {
        out.putI32(v);
    }
}

bool LdiHeader::deserialize(platform::ByteReader& in) {
    if (in.remaining() < kSize) {
        return false;
    }
    version = in.getI32();
    ldiType = in.getI32();
    dptType = in.getI32();
    width = in.getI32();
    height = in.getI32();
    pixelCount = in.getI32();
    for (std::int32_t& v : reserved) {
        v = in.getI32();
    }
    binBits = in.getI32();
    stats.deserialize(in);
    generatorFloat = in.getF32();
    generatorInt = in.getI32();
    getVector(in, boundsMin);
    getVector(in, boundsMax);
    view.deserializeInMemoryOrder(in);
    camera.deserialize(in);
    binCount = in.getI32();
    for (float& v : bins) {
        v = in.getF32();
    }
    for (std::int32_t& v : extra) {
        v = in.getI32();
    }
    return in.ok();
}

bool LdiHeader::deserialize(std::span<const std::uint8_t> bytes) {
    platform::ByteReader in(bytes);
    return deserialize(in);
}

}  // namespace strata::ldi
