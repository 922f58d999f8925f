#include "device_config/validation.h"

#include <gtest/gtest.h>

#include <set>

namespace dc = orvik::device_config;

namespace {
std::array<std::string, 3> texts(std::string x, std::string y, std::string z) {
    return {x, y, z};
}
}  // namespace

TEST(FieldTable, MatchesTheImageLayout) {
    dc::DeviceConfig defaults;
    std::set<std::size_t> offsets;
    std::size_t last = 0;
    for (const auto& f : dc::fieldTable()) {
        EXPECT_TRUE(offsets.insert(f.offset).second) << f.name;
        EXPECT_GE(f.offset, last) << f.name;
        last = f.offset;
        EXPECT_LT(f.offset + f.width, dc::kImageSize + 1) << f.name;
        if (f.kind == dc::FieldKind::Header)
            continue;
        EXPECT_EQ(f.offset % 4, 0u) << f.name;
        EXPECT_EQ(dc::fieldValue(defaults, f), f.defaultValue) << f.name;
        EXPECT_TRUE(dc::valueAllowed(f, f.defaultValue)) << f.name << " default outside its range";
        EXPECT_EQ(dc::findField(f.name), &f);
    }
    EXPECT_EQ(dc::fieldTable().size(), 2u + 66u);
    EXPECT_EQ(dc::findField("ecoThreshold")->offset, 404u);
    EXPECT_EQ(dc::findField("nope"), nullptr);
}

TEST(Presets, AreDerivedFromAllThreeThresholds) {
    dc::DeviceConfig c;
    EXPECT_EQ(dc::drivePreset(c), 2);
    EXPECT_EQ(dc::parkPreset(c), 4);
    c.setDriveImpactX(60), c.setDriveImpactY(60), c.setDriveImpactZ(60);
    EXPECT_EQ(dc::drivePreset(c), 1);
    c.setDriveImpactZ(61);
    EXPECT_EQ(dc::drivePreset(c), dc::kCustomPreset);
}

TEST(SaveChecks, CustomThresholdBoundsAreInclusive) {
    dc::DeviceConfig c;
    dc::SaveCheckInput in;
    in.driveTexts = texts("0.03", "1.5", "1.50");
    EXPECT_EQ(dc::checkBeforeSave(c, in), 0);
    EXPECT_EQ(c.driveImpactX(), 3u);
    EXPECT_EQ(c.driveImpactY(), 150u);
    EXPECT_EQ(c.driveImpactZ(), 150u);

    for (std::string bad : {"0.029", "1.501", "0", "abc", "", "-0.5", "nan", "inf", "1e3"}) {
        dc::DeviceConfig d;
        dc::SaveCheckFailure f;
        in.driveTexts = texts("0.5", bad, "0.5");
        EXPECT_EQ(dc::checkBeforeSave(d, in, &f), dc::kMsgImpactRange) << bad;
        EXPECT_EQ(f.axis, 1) << bad;
        EXPECT_FALSE(f.parkMode);
        EXPECT_EQ(d, dc::DeviceConfig()) << "nothing stored for " << bad;
    }
}

TEST(SaveChecks, FailureNamesTheFirstBadEditAndRewritesIt) {
    dc::DeviceConfig c;
    dc::SaveCheckInput in;
    in.driveTexts = texts("0.5", "0.5", "0.5");
    in.parkTexts = texts("2", "1.7777", "x");
    dc::SaveCheckFailure f;
    EXPECT_EQ(dc::checkBeforeSave(c, in, &f), dc::kMsgImpactRange);
    EXPECT_TRUE(f.parkMode);
    EXPECT_EQ(f.axis, 0);
    EXPECT_EQ(f.rewrittenText, "2.00");
    EXPECT_EQ(c.driveImpactX(), 50u) << "a failed save stores no mode";

    in.driveTexts = texts("0.5", "9", "0.5");
    EXPECT_EQ(dc::checkBeforeSave(c, in, &f), dc::kMsgImpactRange);
    EXPECT_FALSE(f.parkMode) << "driving edits are checked first";
}

TEST(SaveChecks, TypedValuesAreTruncatedAfterScaling) {
    dc::DeviceConfig c;
    dc::SaveCheckInput in;
    in.parkTexts = texts("0.29", " 0.5xyz", "+1.499");
    ASSERT_EQ(dc::checkBeforeSave(c, in), 0);
    EXPECT_EQ(c.parkImpactX(), static_cast<std::uint32_t>(0.29 * 100));  // 28
    EXPECT_EQ(c.parkImpactY(), 50u);
    EXPECT_EQ(c.parkImpactZ(), 149u);
}

TEST(SaveChecks, EveryShareMustBeAtLeastTen) {
    for (int which = 0; which < 3; ++which) {
        dc::DeviceConfig c;
        if (which == 0)
            c.setAlwaysSharePercent(0);
        if (which == 1)
            c.setMiddleShareValue(9);
        if (which == 2)
            c.setParkSharePercent(5);
        dc::SaveCheckInput in;
        in.driveTexts = texts("0.7", "0.7", "0.7");
        EXPECT_EQ(dc::checkBeforeSave(c, in), dc::kMsgShareMinimum) << which;
        EXPECT_EQ(c.driveImpactX(), 50u);
    }
    dc::DeviceConfig ok;
    ok.setMiddleShareValue(10);
    EXPECT_EQ(dc::checkBeforeSave(ok), 0);
}

TEST(SaveChecks, MessagesReadAsTheDialogShowsThem) {
    EXPECT_EQ(dc::checkMessage(230), "G-Sensor value has exceeded effective range.(0.03-1.50)");
    EXPECT_EQ(dc::checkMessage(305), "Each recording mode must be set to minimum 10% or more");
}

TEST(SetField, RefusesWhatTheDialogCouldNotStore) {
    dc::DeviceConfig c;
    struct Case {
        const char* name;
        const char* value;
        const char* expect;  // part of the message
    } cases[] = {
        {"bogus", "1", "unknown field"},
        {"checksum", "1", "set when the file is written"},
        {"frontQuality", "4", "not allowed (0..3)"},
        {"frontQuality", "two", "not a number"},
        {"frontQuality", "-1", "not a number"},
        {"frontQuality", "4294967296", "not a number"},
        {"parkStandbySeconds", "20", "one of 0, 10, 30"},
        {"cutOffVoltage", "114", "one of"},
        {"alwaysSharePercent", "45", "in steps of 10"},
        {"alwaysSharePercent", "0", "minimum 10%"},
        {"middleShareValue", "9", "minimum 10%"},
        {"driveImpactX", "151", "effective range.(0.03-1.50)"},
        {"driveImpactX", "0.02", "effective range"},
        {"frontMotionArea", "0x1000", "not allowed"},
    };
    for (const auto& k : cases) {
        auto r = dc::setFieldFromText(c, k.name, k.value);
        ASSERT_FALSE(r.ok()) << k.name << "=" << k.value;
        EXPECT_NE(r.error().find(k.expect), std::string::npos) << r.error();
    }
    EXPECT_EQ(c, dc::DeviceConfig()) << "refused values change nothing";
}

TEST(SetField, KeepsDependentFieldsInStep) {
    dc::DeviceConfig c;
    ASSERT_TRUE(dc::setFieldFromText(c, "alwaysSharePercent", "40").ok());
    EXPECT_EQ(c.parkSharePercent(), 60u);
    ASSERT_TRUE(dc::setFieldFromText(c, "parkSharePercent", "10").ok());
    EXPECT_EQ(c.alwaysSharePercent(), 90u);
    ASSERT_TRUE(dc::setFieldFromText(c, "rearMotionArea", "0x801").ok());
    EXPECT_EQ(c.rearMotionArea(), 0x861u) << "the middle cells are always on";
    ASSERT_TRUE(dc::setFieldFromText(c, "driveImpactY", "0.75").ok());
    EXPECT_EQ(c.driveImpactY(), 75u);
    ASSERT_TRUE(dc::setFieldFromText(c, "cutOffVoltage", "115").ok());
    ASSERT_TRUE(dc::setFieldFromText(c, "fixed272", "0xFFFFFFFF").ok());
    EXPECT_EQ(c.fixed272(), 0xFFFFFFFFu);
}

TEST(DescribeValue, SpeedListsFollowTheUnit) {
    dc::DeviceConfig c;
    const auto* f = dc::findField("fcwsSpeed");
    EXPECT_EQ(dc::describeValue(c, *f, 4), "40km/h");
    c.setSpeedUnit(1);
    EXPECT_EQ(dc::describeValue(c, *f, 5), "30Mi/h");  // there is no 35 in the mile list
    EXPECT_EQ(dc::describeValue(c, *f, 0), "Not Use");
    EXPECT_EQ(dc::describeValue(c, *dc::findField("timeZoneIndex"), 14), " 00:00");
    EXPECT_EQ(dc::describeValue(c, *dc::findField("cutOffVoltage"), 118), "11.8v / 23.6v");
    EXPECT_EQ(dc::describeValue(c, *dc::findField("ecoThreshold"), 1), "not used");
}
