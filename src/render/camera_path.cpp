#include "render/camera_path.h"

#include <algorithm>
#include <cmath>

namespace strata::render {
namespace {

struct Dvec {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
};

Dvec toD(const geometry::Vector3& v) {
    return {v.x, v.y, v.z};
}

geometry::Vector3 toF(const Dvec& v) {
    return {static_cast<float>(v.x), static_cast<float>(v.y), static_cast<float>(v.z)};
}

Dvec operator+(const Dvec& a, const Dvec& b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}

Dvec operator*(const Dvec& a, double s) {
    return {a.x * s, a.y * s, a.z * s};
}

Dvec crossD(const Dvec& a, const Dvec& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

double dotD(const Dvec& a, const Dvec& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

Dvec unitD(const Dvec& a) {
    const double l = std::sqrt(dotD(a, a));
    return l > 0.0 ? a * (1.0 / l) : a;
}

// v turned by angle about the unit axis a (Rodrigues).
Dvec rotate(const Dvec& v, const Dvec& a, double angle) {
    const double c = std::cos(angle);
    const double s = std::sin(angle);
    return v * c + crossD(a, v) * s + a * (dotD(a, v) * (1.0 - c));
}

struct Quat {
    double w = 1.0;
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
};

// The rotation whose columns are side, up and -dir (the camera frame in world space).
Quat frameQuat(const geometry::Vector3& dirF, const geometry::Vector3& upF) {
    const Dvec d = unitD(toD(dirF));
    const Dvec u = unitD(crossD(crossD(d, toD(upF)), d));
    const Dvec s = crossD(d, u);
    const Dvec b = d * -1.0;
    // m[row][column] with columns s, u, b.
    const double m00 = s.x, m01 = u.x, m02 = b.x;
    const double m10 = s.y, m11 = u.y, m12 = b.y;
    const double m20 = s.z, m21 = u.z, m22 = b.z;
    Quat q;
    const double trace = m00 + m11 + m22;
    if (trace > 0.0) {
        const double r = std::sqrt(1.0 + trace) * 2.0;
        q = {0.25 * r, (m21 - m12) / r, (m02 - m20) / r, (m10 - m01) / r};
    } else if (m00 > m11 && m00 > m22) {
        const double r = std::sqrt(1.0 + m00 - m11 - m22) * 2.0;
        q = {(m21 - m12) / r, 0.25 * r, (m01 + m10) / r, (m02 + m20) / r};
    } else if (m11 > m22) {
        const double r = std::sqrt(1.0 + m11 - m00 - m22) * 2.0;
        q = {(m02 - m20) / r, (m01 + m10) / r, 0.25 * r, (m12 + m21) / r};
    } else {
        const double r = std::sqrt(1.0 + m22 - m00 - m11) * 2.0;
        q = {(m10 - m01) / r, (m02 + m20) / r, (m12 + m21) / r, 0.25 * r};
    }
    return q;
}

Quat slerp(Quat a, const Quat& b, double t) {
    double c = a.w * b.w + a.x * b.x + a.y * b.y + a.z * b.z;
    if (c < 0.0) {  // the shorter way round
        a = {-a.w, -a.x, -a.y, -a.z};
        c = -c;
    }
    double wa = 1.0 - t;
    double wb = t;
    if (c < 0.9999) {
        const double angle = std::acos(std::min(c, 1.0));
        const double s = std::sin(angle);
        wa = std::sin((1.0 - t) * angle) / s;
        wb = std::sin(t * angle) / s;
    }
    Quat q{wa * a.w + wb * b.w, wa * a.x + wb * b.x, wa * a.y + wb * b.y, wa * a.z + wb * b.z};
    const double l = std::sqrt(q.w * q.w + q.x * q.x + q.y * q.y + q.z * q.z);
    return {q.w / l, q.x / l, q.y / l, q.z / l};
}

// Columns 1 (up) and 2 (-dir) of the rotation of q.
void quatFrame(const Quat& q, geometry::Vector3& dir, geometry::Vector3& up) {
    const Dvec u{2.0 * (q.x * q.y - q.w * q.z), 1.0 - 2.0 * (q.x * q.x + q.z * q.z),
                 2.0 * (q.y * q.z + q.w * q.x)};
    const Dvec b{2.0 * (q.x * q.z + q.w * q.y), 2.0 * (q.y * q.z - q.w * q.x),
                 1.0 - 2.0 * (q.x * q.x + q.y * q.y)};
    up = toF(unitD(u));
    dir = toF(unitD(b * -1.0));
}

// Uniform Catmull-Rom between p1 and p2. In double every small multiple of a float is exact, so
// four equal points give that point exactly.
geometry::Vector3 catmullRom(const geometry::Vector3& p0f, const geometry::Vector3& p1f,
                             const geometry::Vector3& p2f, const geometry::Vector3& p3f, double t) {
    const Dvec p0 = toD(p0f), p1 = toD(p1f), p2 = toD(p2f), p3 = toD(p3f);
    const double t2 = t * t;
    const double t3 = t2 * t;
    const Dvec r = p1 * 2.0 + (p2 + p0 * -1.0) * t +
                   (p0 * 2.0 + p1 * -5.0 + p2 * 4.0 + p3 * -1.0) * t2 +
                   (p0 * -1.0 + p1 * 3.0 + p2 * -3.0 + p3) * t3;
    return toF(r * 0.5);
}

float lerp(float a, float b, double t) {
    return a == b ? a : static_cast<float>(a + (static_cast<double>(b) - a) * t);
}

bool samePose(const CameraRecord& a, const CameraRecord& b) {
    return a.direction == b.direction && a.up == b.up;
}

}  // namespace

std::vector<CameraRecord> orbitSequence(const CameraRecord& start, const geometry::Vector3& centre,
                                        double degrees, std::int32_t frames) {
    std::vector<CameraRecord> out;
    const std::int32_t n = std::clamp(frames, 1, kMaxSequenceFrames);
    out.reserve(static_cast<std::size_t>(n));
    const Dvec axis = unitD(toD(start.up));
    const Dvec c = toD(centre);
    const Dvec arm = toD(start.position) + c * -1.0;
    for (std::int32_t i = 0; i < n; ++i) {
        const double turn = n > 1 ? degrees * i / (n - 1) : 0.0;
        CameraRecord r = start;
        if (std::fmod(turn, 360.0) != 0.0) {
            const double angle = turn * 3.14159265358979323846 / 180.0;
            r.position = toF(c + rotate(arm, axis, angle));
            r.direction = toF(rotate(toD(start.direction), axis, angle));
            r.up = toF(rotate(toD(start.up), axis, angle));
        }
        out.push_back(r);
    }
    return out;
}

std::vector<CameraRecord> pathSequence(const std::vector<CameraRecord>& keys, std::int32_t frames) {
    std::vector<CameraRecord> out;
    if (keys.empty()) {
        return out;
    }
    const std::int32_t n = std::clamp(frames, 1, kMaxSequenceFrames);
    const auto last = static_cast<std::int32_t>(keys.size()) - 1;
    const auto key = [&](std::int32_t i) -> const CameraRecord& {
        return keys[static_cast<std::size_t>(std::clamp(i, 0, last))];
    };
    out.reserve(static_cast<std::size_t>(n));
    for (std::int32_t i = 0; i < n; ++i) {
        const double t = n > 1 ? static_cast<double>(last) * i / (n - 1) : 0.0;
        std::int32_t j = std::min(static_cast<std::int32_t>(t), std::max(last - 1, 0));
        double u = last > 0 ? t - j : 0.0;
        if (u >= 1.0) {  // the last key itself
            ++j;
            u = 0.0;
        }
        const CameraRecord& a = key(j);
        const CameraRecord& b = key(j + 1);
        CameraRecord r = a;
        if (u != 0.0) {
            r.position =
                catmullRom(key(j - 1).position, a.position, b.position, key(j + 2).position, u);
            if (!samePose(a, b)) {
                quatFrame(slerp(frameQuat(a.direction, a.up), frameQuat(b.direction, b.up), u),
                          r.direction, r.up);
            }
            r.fovDegrees = lerp(a.fovDegrees, b.fovDegrees, u);
            r.near = lerp(a.near, b.near, u);
            r.far = lerp(a.far, b.far, u);
        }
        r.width = keys.front().width;
        r.height = keys.front().height;
        out.push_back(r);
    }
    return out;
}

}  // namespace strata::render
