// Field-by-field serialisation of the geometry values that camera records and file headers hold.
#pragma once

#include "geometry/matrix.h"
#include "platform/byte_io.h"

namespace strata::geometry {

inline void putMatrix(platform::ByteWriter& out, const Matrix4& m) {
    for (float e : m.m) {
        out.putF32(e);
    }
}

inline void getMatrix(platform::ByteReader& in, Matrix4& m) {
    for (float& e : m.m) {
        e = in.getF32();
    }
}

inline void putVector(platform::ByteWriter& out, const Vector3& v) {
    out.putF32(v.x);
    out.putF32(v.y);
    out.putF32(v.z);
}

inline void getVector(platform::ByteReader& in, Vector3& v) {
    v.x = in.getF32();
    v.y = in.getF32();
    v.z = in.getF32();
}

}  // namespace strata::geometry
