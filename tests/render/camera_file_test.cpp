// Camera files, camera sequences and the coverage measure.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "render/camera_file.h"
#include "render/camera_path.h"
#include "render/inspection.h"

namespace strata::render {
namespace {

const char* kGood = R"({"position": [1, 2, 3], "direction": [0, 0, -1], "up": [0, 1, 0],
  "fovDegrees": 45, "near": 0.5, "far": 100, "width": 320, "height": 200})";

CameraRecord oddRecord() {
    CameraRecord c;
    c.position = {0.1f, -2.3456789f, 1e-7f};
    c.direction = {0.36f, -0.48f, -0.8f};
    c.up = {0.0f, 0.8573214f, -0.5144f};
    c.fovDegrees = 37.123457f;
    c.near = 0.0123f;
    c.far = 9876.54f;
    c.width = 17;
    c.height = 16384;
    return c;
}

void expectSame(const CameraRecord& a, const CameraRecord& b) {
    EXPECT_EQ(a.position, b.position);
    EXPECT_EQ(a.direction, b.direction);
    EXPECT_EQ(a.up, b.up);
    EXPECT_EQ(a.fovDegrees, b.fovDegrees);
    EXPECT_EQ(a.near, b.near);
    EXPECT_EQ(a.far, b.far);
    EXPECT_EQ(a.width, b.width);
    EXPECT_EQ(a.height, b.height);
}

TEST(CameraFile, WrittenRecordReadsBackBitForBit) {
    const CameraRecord c = oddRecord();
    CameraRecord back;
    std::string error;
    ASSERT_TRUE(cameraFromJson(cameraToJson(c), "cam.json", back, error)) << error;
    expectSame(c, back);

    ASSERT_TRUE(cameraFromJson(kGood, "cam.json", back, error)) << error;
    EXPECT_EQ(back.position, (geometry::Vector3{1.0f, 2.0f, 3.0f}));
    EXPECT_EQ(back.width, 320);
    EXPECT_EQ(back.height, 200);
    EXPECT_EQ(back.near, 0.5f);
}

// kGood with the value of one key replaced (or the key left out when value is empty).
std::string edited(const std::string& key, const std::string& value) {
    const std::pair<const char*, const char*> fields[] = {
        {"position", "[1, 2, 3]"}, {"direction", "[0, 0, -1]"},
        {"up", "[0, 1, 0]"},       {"fovDegrees", "45"},
        {"near", "0.5"},           {"far", "100"},
        {"width", "320"},          {"height", "200"}};
    std::string text = "{";
    for (const auto& [k, v] : fields) {
        if (k == key && value.empty()) {
            continue;
        }
        if (text.size() > 1) {
            text.append(", ");
        }
        text.append("\"").append(k).append("\": ").append(k == key ? value.c_str() : v);
    }
    return text + "}";
}

TEST(CameraFile, RefusesEachBadFieldNamingIt) {
    struct Case {
        const char* key;
        const char* value;  // "" removes the key
        const char* message;
    };
    const Case cases[] = {
        {"position", "", "field \"position\" is missing"},
        {"direction", "", "field \"direction\" is missing"},
        {"up", "", "field \"up\" is missing"},
        {"fovDegrees", "", "field \"fovDegrees\" is missing"},
        {"near", "", "field \"near\" is missing"},
        {"far", "", "field \"far\" is missing"},
        {"width", "", "field \"width\" is missing"},
        {"height", "", "field \"height\" is missing"},
        {"position", "[1, 2, 1e999]", "field \"position\" is not a finite number"},
        {"position", "[1, NaN, 0]", "field \"position\" is not a finite number"},
        {"near", "Infinity", "field \"near\" is not a finite number"},
        {"far", "-inf", "field \"far\" is not a finite number"},
        {"direction", "[1e39, 0, -1]", "field \"direction\" is not a finite number"},
        {"up", "[0, 1]", "field \"up\" wants three numbers"},
        {"up", "[0, 1, 0, 0]", "field \"up\" wants three numbers"},
        {"position", "[0, \"1\", 0]", "field \"position\" wants three numbers"},
        {"fovDegrees", "1e999", "field \"fovDegrees\" is not a finite number"},
        {"near", "-1e400", "field \"near\" is not a finite number"},
        {"far", "3.5e38", "field \"far\" is not a finite number"},
        {"near", "null", "field \"near\" is not a number"},
        {"fovDegrees", "\"45\"", "field \"fovDegrees\" is not a number"},
        {"fovDegrees", "0", "field \"fovDegrees\" wants degrees"},
        {"fovDegrees", "179.01", "field \"fovDegrees\" wants degrees"},
        {"near", "0", "field \"near\" wants a positive distance"},
        {"far", "0.5", "field \"far\" wants a distance beyond near"},
        {"width", "0", "field \"width\" wants a whole number"},
        {"width", "16385", "field \"width\" wants a whole number"},
        {"height", "12.5", "field \"height\" wants a whole number"},
        {"direction", "[0, 0, 0]", "field \"direction\" is zero"},
        {"up", "[0, 0, 2]", "field \"up\" is zero or parallel"},
    };
    for (const Case& c : cases) {
        const std::string text = edited(c.key, c.value);
        CameraRecord record;
        std::string error;
        EXPECT_FALSE(cameraFromJson(text, "cam.json", record, error)) << text;
        EXPECT_EQ(error.rfind(std::string("cam.json: ") + c.message, 0), 0u)
            << c.key << " " << c.value << ": " << error;
        EXPECT_EQ(error.find('\n'), std::string::npos);
    }
    // The edge values themselves are accepted.
    for (const auto& [key, value] : {std::pair{"fovDegrees", "179"}, std::pair{"width", "16384"},
                                     std::pair{"height", "1"}, std::pair{"far", "0.5000001"}}) {
        CameraRecord record;
        std::string error;
        EXPECT_TRUE(cameraFromJson(edited(key, value), "cam.json", record, error)) << error;
    }
}

TEST(CameraFile, RefusesWhatIsNotOneRecord) {
    CameraRecord record;
    std::string error;
    EXPECT_FALSE(cameraFromJson(std::string(kGood) + " x", "cam.json", record, error));
    EXPECT_EQ(error.rfind("cam.json: not valid JSON", 0), 0u) << error;
    EXPECT_FALSE(cameraFromJson("[1, 2]", "cam.json", record, error));
    EXPECT_EQ(error, "cam.json: a camera record is a JSON object");

    std::vector<CameraRecord> list;
    EXPECT_FALSE(cameraListFromJson("[]", "path.json", list, error));
    EXPECT_FALSE(cameraListFromJson(kGood, "path.json", list, error));
    EXPECT_FALSE(cameraListFromJson(std::string("[") + kGood + ", {}]", "path.json", list, error));
    EXPECT_EQ(error, "path.json: camera 1: field \"position\" is missing");
    ASSERT_TRUE(
        cameraListFromJson(std::string("[") + kGood + ", " + kGood + "]", "path.json", list, error))
        << error;
    EXPECT_EQ(list.size(), 2u);
}

float distance(const geometry::Vector3& a, const geometry::Vector3& b) {
    return (a - b).length();
}

TEST(CameraPath, OrbitTurnsAboutTheCentreAndAFullTurnEndsAtTheStart) {
    CameraRecord start;
    start.position = {0.3f, 0.7f, 5.0f};
    start.direction = {0.0f, 0.0f, -1.0f};
    start.up = {0.0f, 1.0f, 0.0f};
    const geometry::Vector3 centre{0.3f, 0.0f, 1.0f};
    const std::vector<CameraRecord> full = orbitSequence(start, centre, 360.0, 9);
    ASSERT_EQ(full.size(), 9u);
    expectSame(full.front(), start);
    expectSame(full.back(), start);
    for (const CameraRecord& c : full) {
        EXPECT_NEAR(distance(c.position, centre), distance(start.position, centre), 1e-5f);
        EXPECT_NEAR(c.position.y, 0.7f, 1e-6f);  // turns about the up axis
    }
    // Frame 2 of 9 over 360 degrees is a quarter turn, counter-clockwise seen from above: the
    // camera on +z moves to +x and looks along -x.
    EXPECT_NEAR(full[2].position.x, 0.3f + 4.0f, 1e-5f);
    EXPECT_NEAR(full[2].position.z, 1.0f, 1e-5f);
    EXPECT_NEAR(full[2].direction.x, -1.0f, 1e-6f);
    // Two frames over 90 degrees: start and the quarter turn.
    const std::vector<CameraRecord> two = orbitSequence(start, centre, 90.0, 2);
    ASSERT_EQ(two.size(), 2u);
    EXPECT_NEAR(two[1].position.x, full[2].position.x, 1e-5f);
    EXPECT_EQ(orbitSequence(start, centre, 90.0, 1).size(), 1u);
    expectSame(orbitSequence(start, centre, 90.0, 1)[0], start);
}

TEST(CameraPath, PathHitsEveryKeyAndTwoEqualKeysAreAStill) {
    const CameraRecord a = oddRecord();
    for (const CameraRecord& c : pathSequence({a, a}, 7)) {
        expectSame(c, a);
    }
    CameraRecord b = a;
    b.position = {4.0f, 1.0f, -2.0f};
    b.direction = {0.0f, 0.0f, -1.0f};
    b.up = {0.0f, 1.0f, 0.0f};
    b.fovDegrees = 60.0f;
    CameraRecord c = b;
    c.position = {8.0f, 0.0f, 0.0f};
    // Yaw of 90 degrees from b: looking along -x.
    c.direction = {-1.0f, 0.0f, 0.0f};
    const std::vector<CameraRecord> frames = pathSequence({a, b, c}, 5);
    ASSERT_EQ(frames.size(), 5u);
    expectSame(frames[0], a);
    expectSame(frames[2], b);
    expectSame(frames[4], c);
    // Halfway from b to c: the direction halfway round, unit and perpendicular to up.
    const geometry::Vector3 d = frames[3].direction;
    EXPECT_NEAR(d.x, -std::sqrt(0.5f), 1e-5f);
    EXPECT_NEAR(d.z, -std::sqrt(0.5f), 1e-5f);
    EXPECT_NEAR(frames[3].up.y, 1.0f, 1e-5f);
    EXPECT_NEAR(frames[3].fovDegrees, 60.0f, 1e-5f);
    // Catmull-Rom with the end key repeated: the midpoint of b and c is pulled toward a's side.
    EXPECT_GT(frames[3].position.x, 4.0f);
    EXPECT_LT(frames[3].position.x, 8.0f);
    EXPECT_EQ(frames[3].width, a.width);
    // One frame: the first key; one key: a still.
    expectSame(pathSequence({a, b, c}, 1)[0], a);
    for (const CameraRecord& f : pathSequence({b}, 3)) {
        expectSame(f, b);
    }
}

TEST(Coverage, HolesAreUnreachedPixelsEnclosedByReachedOnes) {
    // 8 x 6 mask: a reached block in rows 1..4, columns 1..6, with an unreached 2 x 2 hole and
    // an unreached notch open to the top edge of the block.
    const char* rows[] = {
        "........",  // row 0
        ".######.",  // row 1
        ".#..###.",  // row 2
        ".#..###.",  // row 3
        ".####.#.",  // row 4
        "........",  // row 5
    };
    std::vector<std::uint8_t> mask;
    for (const char* r : rows) {
        for (int x = 0; x < 8; ++x) {
            mask.push_back(r[x] == '#' ? 1 : 0);
        }
    }
    std::vector<std::uint8_t> holes;
    const CoverageMeasure m = measureCoverage(mask, 8, 6, &holes);
    EXPECT_EQ(m.holes, 4);
    EXPECT_EQ(m.area, 19 + 4);
    EXPECT_EQ(holes[2 * 8 + 2], 1);
    EXPECT_EQ(holes[3 * 8 + 3], 1);
    EXPECT_EQ(holes[4 * 8 + 5], 0);  // the notch: nothing reached above it
    EXPECT_EQ(holes[0], 0);
    EXPECT_DOUBLE_EQ(m.share(), 4.0 / 23.0);

    // A whole row no sample reached (a crack between spread samples) lies inside the picture.
    std::vector<std::uint8_t> cracked(40, 0);
    for (int x = 1; x <= 6; ++x) {
        cracked[static_cast<std::size_t>(1 * 8 + x)] = 1;
        cracked[static_cast<std::size_t>(3 * 8 + x)] = 1;
    }
    EXPECT_EQ(measureCoverage(cracked, 8, 5).holes, 4);
    EXPECT_EQ(measureCoverage(cracked, 8, 5).area, 16);

    // The band reaches exactly kCoverageBand rows: pixel (2, 2) has reached pixels to both
    // sides only in row 5, three rows on.
    std::vector<std::uint8_t> banded(48, 0);
    banded[3] = 1;
    for (int x = 1; x <= 6; ++x) {
        banded[static_cast<std::size_t>(5 * 8 + x)] = 1;
    }
    std::vector<std::uint8_t> bandHoles;
    measureCoverage(banded, 8, 6, &bandHoles);
    EXPECT_EQ(bandHoles[2 * 8 + 2], 1);
    EXPECT_EQ(bandHoles[1 * 8 + 2], 0);  // four rows from row 5

    const std::vector<std::uint8_t> none(48, 0);
    EXPECT_EQ(measureCoverage(none, 8, 6).area, 0);
    EXPECT_EQ(measureCoverage(none, 8, 6).share(), 0.0);
    const std::vector<std::uint8_t> all(48, 1);
    EXPECT_EQ(measureCoverage(all, 8, 6).holes, 0);
    EXPECT_EQ(measureCoverage(all, 8, 6).area, 48);
}

TEST(Inspection, LayerColoursFromTheFront) {
    EXPECT_EQ(layerColour(0), 0xFF0000u);
    EXPECT_EQ(layerColour(1), 0x00FF00u);
    EXPECT_EQ(layerColour(6), 0x8000FFu);
    EXPECT_EQ(layerColour(7), 0xFFFFFFu);
    EXPECT_EQ(layerColour(500), 0xFFFFFFu);
}

}  // namespace
}  // namespace strata::render
