// The settings editor over a real configuration file on a folder presented as the card: every
// control stores exactly its field, the save checks and their messages, Initialize, Cancel, and
// the Korean page set.
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QSlider>
#include <QTabWidget>
#include <algorithm>
#include <map>
#include <set>

#include "device_config/ui/settings_editor.h"
#include "device_config/ui/settings_page.h"
#include "device_config/ui/settings_pages.h"
#include "device_config/validation.h"
#include "gui_fixture.h"
#include "platform/commit_writer.h"
#include "platform/readable_file.h"
#include "user_input.h"

namespace orvik::testing {
namespace {

using namespace device_config;
using namespace device_config::ui;
using namespace ui_common;

// How the user changes the control: a mouse click; a list entry picked in the open list; a key
// on the focused control; wheel notches (up for positive counts); a drag of the slider's thumb
// to a value; a click on the groove where a value lies (what is stored is then read from the
// slider, since styles either jump there or step one page toward it).
enum class Act { Click, Pick, Key, Wheel, Drag, Groove };

struct ControlCase {
    const char* name;  // the row's name in the test output
    int id;            // control id (objectName)
    Act act;
    int arg;  // entry, key, notches, value or side, as the act needs
    std::map<std::string, uint32_t> changes;
    int message = 0;  // string id of the message the change shows, 0 for none
};

// Every row starts from the factory defaults, so each change moves off its default.
const std::vector<ControlCase>& controlCases() {
    static const std::vector<ControlCase> cases = {
        // Video
        {"frontQualityHighest", 3103, Act::Click, 0, {{"frontQuality", 2}}, 362},
        {"rearQualityNormal", 3116, Act::Click, 0, {{"rearQuality", 0}}, 362},
        {"frontBrightness1", 3106, Act::Click, 0, {{"frontBrightness", 0}}},
        {"rearBrightness5", 3124, Act::Click, 0, {{"rearBrightness", 4}}},
        {"rearFlipBoth", 3136, Act::Click, 0, {{"rearFlip", 3}}},
        {"busModeUse",
         3143,
         Act::Click,
         0,
         {{"busMode", 1}, {"frontQuality", 3}, {"rearQuality", 3}}},
        {"antiFlicker50", 3147, Act::Click, 0, {{"antiFlicker", 2}}},
        {"sensor60fps", 3150, Act::Click, 0, {{"frontSensorMode", 1}}},
        // Basic
        {"standby10min", 3209, Act::Click, 0, {{"parkStandbySeconds", 600}}},
        {"standbyNotUse", 3201, Act::Click, 0, {{"parkStandbySeconds", 0}}},
        {"standby7min", 3208, Act::Click, 0, {{"parkStandbySeconds", 420}}},
        {"gSensorOff", 3219, Act::Click, 0, {{"gSensorEnabled", 0}}},
        {"drivePreset1",
         3224,
         Act::Click,
         0,
         {{"driveImpactX", 70}, {"driveImpactY", 70}, {"driveImpactZ", 70}}},
        {"parkPreset4",
         3252,
         Act::Click,
         0,
         {{"parkImpactX", 12}, {"parkImpactY", 12}, {"parkImpactZ", 12}}},
        {"frontLedOff", 3260, Act::Click, 0, {{"frontLed", 1}}},
        {"rearLedOff", 3263, Act::Click, 0, {{"rearLed", 1}}},
        // The card-share slider, from 70/30: every way it moves stores what it shows.
        {"shareKeyRight",
         3268,
         Act::Key,
         Qt::Key_Right,
         {{"alwaysSharePercent", 80}, {"parkSharePercent", 20}},
         245},
        {"shareKeyPageDown",
         3268,
         Act::Key,
         Qt::Key_PageDown,
         {{"alwaysSharePercent", 60}, {"parkSharePercent", 40}},
         245},
        {"shareKeyHome", 3268, Act::Key, Qt::Key_Home, {}, 305},
        {"shareKeyEnd", 3268, Act::Key, Qt::Key_End, {}, 305},
        {"shareWheelUp",
         3268,
         Act::Wheel,
         1,
         {{"alwaysSharePercent", 80}, {"parkSharePercent", 20}},
         245},
        {"shareWheelDown",
         3268,
         Act::Wheel,
         -1,
         {{"alwaysSharePercent", 60}, {"parkSharePercent", 40}},
         245},
        {"shareDrag",
         3268,
         Act::Drag,
         5,
         {{"alwaysSharePercent", 50}, {"parkSharePercent", 50}},
         245},
        {"shareDragToEnd", 3268, Act::Drag, 10, {}, 305},
        {"shareGroove", 3268, Act::Groove, 3, {}, 245},
        // GPS
        {"mph", 3502, Act::Click, 0, {{"speedUnit", 1}}},
        {"osdOff", 3526, Act::Click, 0, {{"osdSpeed", 0}}},
        {"route60s", 3517, Act::Click, 0, {{"routeSaveInterval", 7}}},
        {"summerTime", 3504, Act::Click, 0, {{"summerTime", 1}}},
        {"timeZoneFirst", 3506, Act::Pick, 0, {{"timeZoneIndex", 0}}},
        {"timeZoneLast", 3506, Act::Pick, 33, {{"timeZoneIndex", 33}}},
        {"timeZoneWheel", 3506, Act::Wheel, -1, {{"timeZoneIndex", 29}}},
        {"timeZoneKeyUp", 3506, Act::Key, Qt::Key_Up, {{"timeZoneIndex", 27}}},
        {"parkingGpsOn", 3519, Act::Click, 0, {{"parkingGps", 1}}},
        {"safeDriveAll", 3524, Act::Click, 0, {{"safeDrive", 2}}},
        // Additional
        {"lcdOff60", 3405, Act::Click, 0, {{"lcdAutoOff", 3}}},
        {"lcdAuto", 3413, Act::Click, 0, {{"lcdBrightness", 3}}},
        {"voltageNotUse", 3415, Act::Pick, 0, {{"cutOffVoltage", 0}}},
        {"voltageAuto", 3415, Act::Pick, 1, {{"cutOffVoltage", 1}}},
        {"voltageExternal", 3415, Act::Pick, 2, {{"cutOffVoltage", 100}}, 354},
        {"voltage115", 3415, Act::Pick, 3, {{"cutOffVoltage", 115}}},
        {"voltage124", 3415, Act::Pick, 12, {{"cutOffVoltage", 124}}},
        {"timer48", 3422, Act::Pick, 7, {{"cutOffTimerHours", 48}}},
        {"timer12", 3422, Act::Pick, 4, {{"cutOffTimerHours", 12}}},
        {"externalPower", 3416, Act::Click, 0, {{"externalPower", 1}}},
        {"cableNone", 3458, Act::Pick, 0, {{"cableVoltageLoss", 1}}},
        {"cable06", 3458, Act::Pick, 6, {{"cableVoltageLoss", 7}}},
        {"nightVision", 3440, Act::Click, 0, {{"nightVision", 1}}},
        {"format32", 3459, Act::Pick, 4, {{"autoFormatWeeks", 4}}},
        {"noticeOff", 3448, Act::Click, 0, {{"parkingNotice", 0}}},
        {"pip4", 3454, Act::Click, 0, {{"pipPosition", 3}}},
        {"screenSaverOff", 3457, Act::Click, 0, {{"screenSaver", 1}}},
        {"ecoOff", 3940, Act::Click, 0, {{"ecoThreshold", 0}}},
        // The eco slider, from 60.
        {"ecoKeyRight", 3946, Act::Key, Qt::Key_Right, {{"ecoThreshold", 61}}},
        {"ecoKeyPageUp", 3946, Act::Key, Qt::Key_PageUp, {{"ecoThreshold", 61}}},
        {"ecoKeyEnd", 3946, Act::Key, Qt::Key_End, {{"ecoThreshold", 100}}},
        {"ecoKeyHome", 3946, Act::Key, Qt::Key_Home, {{"ecoThreshold", 0}}},
        {"ecoWheelDown", 3946, Act::Wheel, -1, {{"ecoThreshold", 59}}},
        {"ecoWheelUpTwice", 3946, Act::Wheel, 2, {{"ecoThreshold", 62}}},
        {"ecoDrag", 3946, Act::Drag, 85, {{"ecoThreshold", 85}}},
        {"ecoGroove", 3946, Act::Groove, 20, {}},
        // Motion: box k of a view carries bit 8, 9, 10, 11, 4, 5, 6, 7, 0, 1, 2, 3
        {"frontMotion5", 4008, Act::Click, 0, {{"frontMotionSensitivity", 5}}},
        {"rearMotionOff", 4015, Act::Click, 0, {{"rearMotionSensitivity", 0}}},
        {"frontCellTopLeft", 4029, Act::Click, 0, {{"frontMotionArea", 0x160}}},
        {"frontCellMiddleRight", 4036, Act::Click, 0, {{"frontMotionArea", 0xE0}}},
        {"rearCellBottomRight", 4053, Act::Click, 0, {{"rearMotionArea", 0x68}}},
        {"rearCellTopRight", 4045, Act::Click, 0, {{"rearMotionArea", 0x860}}},
        // ADAS
        {"truck", 4203, Act::Click, 0, {{"vehicleType", 2}}},
        {"ldws100", 4205, Act::Pick, 10, {{"ldwsSpeed", 10}}},
        {"fcwsNotUse", 4207, Act::Pick, 0, {{"fcwsSpeed", 0}}},
        {"ldwsSensitive", 4210, Act::Pick, 2, {{"ldwsSensitivity", 2}}},
        {"fcwsInsensitive", 4212, Act::Pick, 0, {{"fcwsSensitivity", 0}}},
        {"ufcws1", 4214, Act::Click, 0, {{"ufcwsSensitivity", 0}}},
        {"fcmdNotUse", 4219, Act::Click, 0, {{"fcmdSensitivity", 0}}},
        {"headway090", 4228, Act::Pick, 6, {{"headwayDistance", 6}}},
        {"headwayKeyDown", 4228, Act::Key, Qt::Key_Down, {{"headwayDistance", 4}}},
        {"factorWheelUp", 4230, Act::Wheel, 1, {{"headwayFactor", 7}}},
        {"ldwsSpeedKeyEnd", 4205, Act::Key, Qt::Key_End, {{"ldwsSpeed", 10}}},
        {"voltageWheel", 3415, Act::Wheel, 1, {{"cutOffVoltage", 120}}},
        {"factor110", 4230, Act::Pick, 0, {{"headwayFactor", 0}}},
        {"vibratorHighSpeed", 4224, Act::Pick, 3, {{"vibratorMode", 3}}},
        {"intensityNotUse", 4225, Act::Pick, 0, {{"vibratorIntensity", 0}}},
        {"ldwsSoundOff", 4236, Act::Click, 0, {{"ldwsSoundOff", 1}}},
        {"fcwsSoundOff", 4237, Act::Click, 0, {{"fcwsSoundOff", 1}}},
        {"fcmdSoundOff", 4238, Act::Click, 0, {{"fcmdSoundOff", 1}}},
        // Audio
        {"micOff", 3601, Act::Click, 0, {{"micVolume", 0}}},
        {"speakerUp", 3614, Act::Click, 0, {{"speakerVolume", 3}}},
        {"hourlyOff", 3620, Act::Click, 0, {{"hourlyAlarm", 0}}},
        {"languageMalaysia", 3644, Act::Click, 0, {{"voiceLanguage", 20}}},
    };
    return cases;
}

template <typename T>
T* control(QWidget& root, int id) {
    T* w = root.findChild<T*>(QString::number(id));
    EXPECT_NE(w, nullptr) << "no control " << id;
    return w;
}

// Shows the page holding `w`, so that clicks reach a visible control.
void showPageOf(SettingsEditor& editor, QWidget* w) {
    for (int tab = 0; tab < editor.tabs()->count(); ++tab)
        if (editor.tabs()->widget(tab)->isAncestorOf(w))
            editor.tabs()->setCurrentIndex(tab);
}

void act(SettingsEditor& editor, const ControlCase& c) {
    QWidget* w = editor.findChild<QWidget*>(QString::number(c.id));
    ASSERT_NE(w, nullptr) << "no control " << c.id;
    showPageOf(editor, w);
    ASSERT_TRUE(QTest::qWaitFor([&] { return w->isVisible(); })) << c.id;
    ASSERT_TRUE(w->isEnabled()) << c.id;
    switch (c.act) {
        case Act::Click:
            click(w);
            break;
        case Act::Pick:
            pickEntry(qobject_cast<QComboBox*>(w), c.arg);
            break;
        case Act::Key:
            ASSERT_TRUE(focusByMouse(w)) << c.id;
            keyOnFocus(static_cast<Qt::Key>(c.arg));
            break;
        case Act::Wheel:
            wheel(w, c.arg);
            break;
        case Act::Drag:
            drag(qobject_cast<QSlider*>(w), c.arg);
            break;
        case Act::Groove:
            clickGroove(qobject_cast<QSlider*>(w), c.arg);
            break;
    }
}

// The editor on screen and active, so that clicks, keys and the focus work as for a user.
void showEditor(SettingsEditor& editor) {
    editor.show();
    editor.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&editor));
}

// What a slider's captions show, as the numbers they stand for.
int shownPercent(QLabel* caption) {
    return caption->text().section(QLatin1Char(':'), 1).remove(QLatin1Char('%')).trimmed().toInt();
}

DeviceConfig readBack(const std::string& path) {
    auto read = readConfigFile(path);
    EXPECT_TRUE(read.ok()) << (read.ok() ? "" : read.error());
    return read.ok() ? read.value() : DeviceConfig();
}

// Every named field except the checksum, as a map.
std::map<std::string, uint32_t> fields(const DeviceConfig& config) {
    std::map<std::string, uint32_t> out;
    for (const FieldInfo& f : fieldTable())
        if (f.name != "checksum")
            out[std::string(f.name)] = fieldValue(config, f);
    return out;
}

// A file as a camera would leave it: the defaults, plus values in words the viewer never edits.
DeviceConfig cardFile() {
    DeviceConfig config;
    config.setWordAt(32, 0xDEADBEEF);
    config.setWordAt(620, 7);
    config.setFixed272(801);
    return config;
}

class SettingsEditorTest : public GuiTest {};

TEST_F(SettingsEditorTest, EveryControlStoresItsFieldAndNothingElse) {
    for (const ControlCase& c : controlCases()) {
        SCOPED_TRACE(c.name);
        const DeviceConfig base = cardFile();
        writeConfig(base);
        messages_.clear();
        SettingsEditor editor(QStringLiteral("[Ver 1.0.2.0]"));
        ASSERT_EQ(editor.rememberedPath().toStdString(), configPath());
        showEditor(editor);
        act(editor, c);
        if (c.id == 3268) {
            // The captions show what is stored.
            EXPECT_EQ(shownPercent(control<QLabel>(editor, 3265)),
                      static_cast<int>(editor.state().get("alwaysSharePercent")));
            EXPECT_EQ(shownPercent(control<QLabel>(editor, 3266)),
                      static_cast<int>(editor.state().get("parkSharePercent")));
        }
        if (c.id == 3946) {
            const double shown = editor.state().get("ecoThreshold") / 100.0;
            EXPECT_TRUE(control<QLabel>(editor, 3941)
                            ->text()
                            .contains(QString::asprintf(
                                "%2.2f", editor.state().get("ecoThreshold") < 2 ? 0.0 : shown)))
                << control<QLabel>(editor, 3941)->text().toStdString();
        }
        click(control<QWidget>(editor, 1));  // Save
        ASSERT_EQ(editor.result(), QDialog::Accepted);

        const DeviceConfig saved = readBack(configPath());
        auto expected = fields(base);
        for (const auto& [field, value] : c.changes)
            expected[field] = value;
        if (c.act == Act::Groove) {
            // The slider moved, and the file holds what it shows.
            const auto shown = static_cast<uint32_t>(control<QSlider>(editor, c.id)->value());
            if (c.id == 3268) {
                EXPECT_NE(shown, 7u);
                expected["alwaysSharePercent"] = shown * 10;
                expected["parkSharePercent"] = 100 - shown * 10;
            } else {
                EXPECT_NE(shown, 60u);
                expected["ecoThreshold"] = shown;
            }
        }
        auto actual = fields(saved);
        for (const auto& [field, value] : expected)
            EXPECT_EQ(actual[field], value) << field;
        EXPECT_EQ(saved.wordAt(32), 0xDEADBEEFu) << "reserved word lost";
        EXPECT_EQ(saved.wordAt(620), 7u);
        EXPECT_TRUE(saved.checksumValid());
        if (c.message) {
            ASSERT_EQ(messages_.size(), 1u);
            EXPECT_EQ(messages_[0].text.toStdString(),
                      uiText(c.message).replace("\r\n", "\n").toStdString());
            EXPECT_EQ(messages_[0].icon, MessageIcon::Warning);
        } else {
            EXPECT_TRUE(messages_.empty()) << messages_[0].text.toStdString();
        }
    }
}

TEST_F(SettingsEditorTest, OpeningWithoutCardShowsDefaultsAndPlainTitle) {
    SettingsEditor editor(QStringLiteral("[Ver 1.0.2.0]"));
    EXPECT_EQ(editor.windowTitle(), QStringLiteral("Device Settings[Ver 1.0.2.0]"));
    EXPECT_EQ(editor.state().image(), DeviceConfig());
    EXPECT_TRUE(control<QRadioButton>(editor, 3102)->isChecked());
    EXPECT_TRUE(control<QRadioButton>(editor, 3226)->isChecked());  // driving preset "3"
    EXPECT_TRUE(control<QRadioButton>(editor, 3253)->isChecked());  // parking preset "5"
    EXPECT_EQ(editor.size(), QSize(640, 600));
    EXPECT_FALSE(control<QWidget>(editor, 3003)->isVisible());
    EXPECT_FALSE(control<QWidget>(editor, 3003)->isEnabled());
    const QStringList captions = {"Video",  "Basic", "GPS",   "Additional",
                                  "Motion", "ADAS",  "Audio", "Information"};
    for (int tab = 0; tab < 8; ++tab)
        EXPECT_EQ(editor.tabs()->tabText(tab), captions[tab]);
}

TEST_F(SettingsEditorTest, TitleNamesTheFileFound) {
    writeConfig(DeviceConfig());
    SettingsEditor editor(QStringLiteral("[Ver 1.0.2.0]"));
    EXPECT_EQ(editor.windowTitle().toStdString(), "Device Settings[Ver 1.0.2.0] : " + configPath());
}

TEST_F(SettingsEditorTest, PresetsFollowTheLoadedThresholds) {
    DeviceConfig config;
    config.setDriveImpactX(60);
    config.setDriveImpactY(60);
    config.setDriveImpactZ(60);
    config.setParkImpactX(25);
    config.setParkImpactY(25);
    config.setParkImpactZ(26);
    writeConfig(config);
    SettingsEditor editor(QString{});
    EXPECT_TRUE(control<QRadioButton>(editor, 3225)->isChecked());  // "2"
    EXPECT_TRUE(control<QLineEdit>(editor, 3230)->isReadOnly());
    EXPECT_TRUE(control<QRadioButton>(editor, 3254)->isChecked());  // Customize
    EXPECT_FALSE(control<QLineEdit>(editor, 3255)->isReadOnly());
    EXPECT_EQ(control<QLineEdit>(editor, 3257)->text(), QStringLiteral("0.26"));
}

struct CustomCase {
    const char* name;
    bool parking;
    std::array<const char*, 3> texts;
    int message;  // 0: accepted
    int badAxis;
    const char* rewritten;
    std::array<uint32_t, 3> stored;
};

TEST_F(SettingsEditorTest, CustomThresholdsAreCheckedOnSave) {
    const CustomCase cases[] = {
        {"limitsAccepted", false, {"0.03", "1.5", "1.50"}, 0, -1, "", {3, 150, 150}},
        {"truncatedNotRounded", false, {"0.29", "0.57", "1"}, 0, -1, "", {28, 56, 100}},
        {"belowRange", false, {"0.5", "0.029", "0.5"}, 230, 1, "0.03", {}},
        {"aboveRange", false, {"1.501", "0.5", "0.5"}, 230, 0, "1.50", {}},
        {"unreadableIsZero", false, {"0.5", "0.5", "abc"}, 230, 2, "0.00", {}},
        {"parkingBelowRange", true, {"0.02", "0.5", "0.5"}, 230, 0, "0.02", {}},
        {"parkingAccepted", true, {"0.10", "0.2", "0.3"}, 0, -1, "", {10, 20, 30}},
    };
    for (const CustomCase& c : cases) {
        SCOPED_TRACE(c.name);
        writeConfig(DeviceConfig());
        const auto before = platform::readFileLimited(configPath(), 4096);
        messages_.clear();
        SettingsEditor editor(QString{});
        const int first = c.parking ? 3255 : 3230;
        userClick(control<QRadioButton>(editor, c.parking ? 3254 : 3229));
        for (int axis = 0; axis < 3; ++axis) {
            auto* edit = control<QLineEdit>(editor, first + axis);
            ASSERT_FALSE(edit->isReadOnly());
            edit->setText(QString::fromLatin1(c.texts[axis]));
        }
        editor.save();
        if (c.message) {
            ASSERT_EQ(messages_.size(), 1u);
            EXPECT_EQ(messages_[0].text.toStdString(),
                      "G-Sensor value has exceeded effective range.(0.03-1.50)");
            EXPECT_EQ(messages_[0].caption, editor.resourceTitle());
            EXPECT_EQ(control<QLineEdit>(editor, first + c.badAxis)->text().toStdString(),
                      c.rewritten);
            EXPECT_NE(editor.result(), QDialog::Accepted);
            EXPECT_EQ(platform::readFileLimited(configPath(), 4096).value(), before.value())
                << "nothing may be written";
        } else {
            EXPECT_TRUE(messages_.empty());
            ASSERT_EQ(editor.result(), QDialog::Accepted);
            const DeviceConfig saved = readBack(configPath());
            const std::array<uint32_t, 3> stored =
                c.parking
                    ? std::array{saved.parkImpactX(), saved.parkImpactY(), saved.parkImpactZ()}
                    : std::array{saved.driveImpactX(), saved.driveImpactY(), saved.driveImpactZ()};
            EXPECT_EQ(stored, c.stored);
        }
    }
}

TEST_F(SettingsEditorTest, TypedValuesAreIgnoredUnlessCustomize) {
    writeConfig(DeviceConfig());
    SettingsEditor editor(QString{});
    control<QLineEdit>(editor, 3230)->setText(QStringLiteral("9"));
    editor.save();
    EXPECT_EQ(editor.result(), QDialog::Accepted);
    EXPECT_EQ(readBack(configPath()).driveImpactX(), 50u);
}

TEST_F(SettingsEditorTest, ShareBelowTenPercentIsRefused) {
    DeviceConfig config;
    config.setMiddleShareValue(5);
    writeConfig(config);
    const auto before = platform::readFileLimited(configPath(), 4096).value();
    SettingsEditor editor(QString{});
    editor.save();
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0].text.toStdString(),
              "Each recording mode must be set to minimum 10% or more");
    EXPECT_EQ(messages_[0].icon, MessageIcon::Warning);
    EXPECT_EQ(platform::readFileLimited(configPath(), 4096).value(), before);
}

TEST_F(SettingsEditorTest, ShareSliderRefusesTheEndsAndShowsWhatIsStored) {
    writeConfig(DeviceConfig());
    SettingsEditor editor(QString{});
    auto* slider = control<QSlider>(editor, 3268);
    auto* always = control<QLabel>(editor, 3265);
    auto* park = control<QLabel>(editor, 3266);
    EXPECT_EQ(always->text(), QStringLiteral("Always :   70%"));
    EXPECT_EQ(park->text(), QStringLiteral("Park :   30%"));

    // A drag shows the split as it goes and stores it once, on release.
    showEditor(editor);
    showPageOf(editor, slider);
    ASSERT_TRUE(QTest::qWaitFor([&] { return slider->isVisible(); }));
    const QPoint from = sliderHandle(slider, 7).center(), to = sliderHandle(slider, 4).center();
    QTest::mousePress(slider, Qt::LeftButton, Qt::NoModifier, from);
    QTest::mouseMove(slider, to);
    EXPECT_EQ(always->text(), QStringLiteral("Always :   40%"));
    EXPECT_EQ(editor.state().get("alwaysSharePercent"), 70u);
    QTest::mouseRelease(slider, Qt::LeftButton, Qt::NoModifier, to);
    EXPECT_EQ(editor.state().get("alwaysSharePercent"), 40u);
    EXPECT_EQ(editor.state().get("parkSharePercent"), 60u);
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0].text.toStdString(),
              "Must format SD Card first before you change the settings.");

    // All the card to one mode: refused, and the slider goes back to the accepted split.
    messages_.clear();
    ASSERT_TRUE(focusByMouse(slider));
    keyOnFocus(Qt::Key_End);
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0].text.toStdString(),
              "Each recording mode must be set to minimum 10% or more");
    EXPECT_EQ(slider->value(), 4);
    EXPECT_EQ(always->text(), QStringLiteral("Always :   40%"));
    EXPECT_EQ(editor.state().get("alwaysSharePercent"), 40u);
}

TEST_F(SettingsEditorTest, GSensorSwitchLocksThePresets) {
    writeConfig(DeviceConfig());
    SettingsEditor editor(QString{});
    userClick(control<QCheckBox>(editor, 3219));
    for (int id = 3224; id <= 3229; ++id)
        EXPECT_FALSE(control<QWidget>(editor, id)->isEnabled()) << id;
    for (int id : {3230, 3231, 3232, 3255, 3256, 3257})
        EXPECT_FALSE(control<QWidget>(editor, id)->isEnabled()) << id;
    userClick(control<QCheckBox>(editor, 3219));
    EXPECT_TRUE(control<QWidget>(editor, 3229)->isEnabled());
    EXPECT_TRUE(control<QLineEdit>(editor, 3230)->isReadOnly());
}

TEST_F(SettingsEditorTest, BusModeForcesTheQualities) {
    writeConfig(DeviceConfig());
    SettingsEditor editor(QString{});
    userClick(control<QRadioButton>(editor, 3143));
    for (int id : {3101, 3102, 3103, 3104, 3116, 3117, 3118, 3119})
        EXPECT_FALSE(control<QWidget>(editor, id)->isEnabled()) << id;
    EXPECT_TRUE(control<QRadioButton>(editor, 3104)->isChecked());
    EXPECT_TRUE(control<QRadioButton>(editor, 3119)->isChecked());
    userClick(control<QRadioButton>(editor, 3142));
    EXPECT_TRUE(control<QWidget>(editor, 3101)->isEnabled());
    EXPECT_TRUE(control<QRadioButton>(editor, 3102)->isChecked());
    EXPECT_EQ(editor.state().get("frontQuality"), 1u);
    EXPECT_EQ(editor.state().get("rearQuality"), 1u);
}

TEST_F(SettingsEditorTest, QualityWarningAlsoForTheCheckedRadio) {
    SettingsEditor editor(QString{});
    auto* high = control<QRadioButton>(editor, 3102);
    userClick(high);
    userClick(high);
    EXPECT_TRUE(high->isChecked());
    EXPECT_EQ(messages_.size(), 2u);
}

TEST_F(SettingsEditorTest, SpeedUnitRefillsTheAdasListsAndStoresWhatTheyShow) {
    DeviceConfig config;
    config.setLdwsSpeed(7);
    config.setFcwsSpeed(9);
    writeConfig(config);
    SettingsEditor editor(QString{});
    showEditor(editor);
    auto* ldws = control<QComboBox>(editor, 4205);
    auto* fcws = control<QComboBox>(editor, 4207);
    EXPECT_EQ(ldws->currentText().trimmed(), QStringLiteral("70km/h"));
    auto* mph = control<QRadioButton>(editor, 3502);
    showPageOf(editor, mph);
    click(mph);
    EXPECT_EQ(ldws->count(), 11);
    EXPECT_EQ(ldws->itemText(10), QStringLiteral("           60Mi/h"));
    // Entries 4 and 3 are shown and stored: keeping 7 and 9 would give the camera 45 and
    // 55 mi/h while the lists show 25 and 20.
    EXPECT_EQ(ldws->currentText().trimmed(), QStringLiteral("25Mi/h"));
    EXPECT_EQ(fcws->currentText().trimmed(), QStringLiteral("20Mi/h"));
    click(control<QWidget>(editor, 1));
    const DeviceConfig saved = readBack(configPath());
    EXPECT_EQ(saved.speedUnit(), 1u);
    EXPECT_EQ(saved.ldwsSpeed(), 4u);
    EXPECT_EQ(saved.fcwsSpeed(), 3u);
}

// A file a camera left with values off the editor's defaults: bus mode on with "Highest"
// quality (opening does not force the qualities), custom driving thresholds, slow speeds.
DeviceConfig reclickFile() {
    DeviceConfig config = cardFile();
    config.setBusMode(1);
    config.setFrontQuality(2);
    config.setDriveImpactX(60);
    config.setDriveImpactY(60);
    config.setDriveImpactZ(61);
    config.setLdwsSpeed(2);
    config.setFcwsSpeed(1);
    return config;
}

TEST_F(SettingsEditorTest, ReclickingEveryCheckedRadioStoresNothingNew) {
    const DeviceConfig base = reclickFile();
    writeConfig(base);
    SettingsEditor editor(QString{});
    showEditor(editor);
    int clicked = 0;
    for (int tab = 0; tab < editor.tabs()->count(); ++tab) {
        editor.tabs()->setCurrentIndex(tab);
        QWidget* page = editor.tabs()->widget(tab);
        ASSERT_TRUE(QTest::qWaitFor([&] { return page->isVisible(); }));
        for (QRadioButton* radio : page->findChildren<QRadioButton*>()) {
            if (!radio->isChecked() || !radio->isVisible() || !radio->isEnabled())
                continue;
            SCOPED_TRACE(radio->objectName().toStdString());
            click(radio);
            EXPECT_TRUE(radio->isChecked());
            ++clicked;
        }
    }
    // One checked radio in each visible group: Video 8, Basic 5, GPS 5, Additional 5, Motion 2,
    // ADAS 3, Audio 3.
    EXPECT_EQ(clicked, 31);
    EXPECT_EQ(control<QComboBox>(editor, 4205)->currentIndex(), 2);
    EXPECT_EQ(control<QComboBox>(editor, 4207)->currentIndex(), 1);
    EXPECT_EQ(control<QLineEdit>(editor, 3232)->text(), QStringLiteral("0.61"));
    // Only the quality warning, once per quality radio (and the Information tab's note that the
    // card has no driving-route file).
    const QString quality = uiText(362).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    EXPECT_EQ(std::count_if(messages_.begin(), messages_.end(),
                            [&](const MessageRecord& m) { return m.text == quality; }),
              2);
    for (const auto& m : messages_)
        EXPECT_TRUE(m.text == quality || m.text == uiText(357)) << m.text.toStdString();
    click(control<QWidget>(editor, 1));
    ASSERT_EQ(editor.result(), QDialog::Accepted);
    EXPECT_EQ(fields(readBack(configPath())), fields(base));
}

TEST_F(SettingsEditorTest, LoadedOddValuesAreShownSafely) {
    DeviceConfig config;
    config.setParkingGps(7);
    config.setCutOffVoltage(100);
    config.setParkStandbySeconds(45);
    config.setPipPosition(2);
    config.setEcoThreshold(1);
    writeConfig(config);
    SettingsEditor editor(QString{});
    EXPECT_TRUE(control<QRadioButton>(editor, 3520)->isChecked());  // Off
    EXPECT_EQ(control<QComboBox>(editor, 3415)->currentIndex(), 2);
    EXPECT_TRUE(messages_.empty()) << "the 10 V warning comes only from the user's choice";
    for (int id = 3201; id <= 3209; ++id)
        EXPECT_FALSE(control<QRadioButton>(editor, id)->isChecked()) << id;
    EXPECT_TRUE(control<QCheckBox>(editor, 3453)->isChecked());
    EXPECT_FALSE(control<QCheckBox>(editor, 3940)->isChecked());
    EXPECT_FALSE(control<QSlider>(editor, 3946)->isEnabled());
    EXPECT_EQ(control<QLabel>(editor, 3941)->text(), QStringLiteral("Eco Drive : 0.00 and over"));
    editor.save();
    EXPECT_EQ(readBack(configPath()).parkingGps(), 0u);
}

TEST_F(SettingsEditorTest, ExternalPowerDisablesTheCutOffLists) {
    SettingsEditor editor(QString{});
    userClick(control<QCheckBox>(editor, 3416));
    EXPECT_FALSE(control<QWidget>(editor, 3415)->isEnabled());
    EXPECT_FALSE(control<QWidget>(editor, 3422)->isEnabled());
    userClick(control<QCheckBox>(editor, 3416));
    EXPECT_TRUE(control<QWidget>(editor, 3415)->isEnabled());
}

TEST_F(SettingsEditorTest, PipBoxesActAsOneChoice) {
    SettingsEditor editor(QString{});
    auto* first = control<QCheckBox>(editor, 3451);
    userClick(first);  // the checked box stays checked
    EXPECT_TRUE(first->isChecked());
    userClick(control<QCheckBox>(editor, 3453));
    EXPECT_FALSE(first->isChecked());
    EXPECT_TRUE(control<QCheckBox>(editor, 3453)->isChecked());
    EXPECT_EQ(editor.state().get("pipPosition"), 2u);
}

TEST_F(SettingsEditorTest, MotionAreaKeepsTheMiddleCells) {
    DeviceConfig config;
    config.setRearMotionArea(0xFFF);
    config.setFrontMotionArea(0);  // the middle cells are shown and written all the same
    writeConfig(config);
    SettingsEditor editor(QString{});
    EXPECT_TRUE(control<QCheckBox>(editor, 4034)->isChecked());
    EXPECT_TRUE(control<QCheckBox>(editor, 4035)->isChecked());
    EXPECT_FALSE(control<QWidget>(editor, 4034)->isEnabled());
    EXPECT_FALSE(control<QWidget>(editor, 4037)->isEnabled());  // front bottom row
    userClick(control<QCheckBox>(editor, 4042));                // rear bit 8 off
    editor.save();
    const DeviceConfig saved = readBack(configPath());
    EXPECT_EQ(saved.frontMotionArea(), 0x60u);
    EXPECT_EQ(saved.rearMotionArea(), 0xEFFu);
}

TEST_F(SettingsEditorTest, CancelWritesNothing) {
    writeConfig(cardFile());
    const auto before = platform::readFileLimited(configPath(), 4096).value();
    SettingsEditor editor(QString{});
    userClick(control<QRadioButton>(editor, 3103));
    userClick(control<QRadioButton>(editor, 3502));
    editor.reject();
    EXPECT_EQ(platform::readFileLimited(configPath(), 4096).value(), before);
}

TEST_F(SettingsEditorTest, InitializeResetsThePagesAndSavesByEnumeration) {
    writeConfig(cardFile());
    {
        // Initialize, then Cancel: the card's file is untouched.
        const auto before = platform::readFileLimited(configPath(), 4096).value();
        SettingsEditor editor(QString{});
        editor.initialize();
        editor.reject();
        EXPECT_EQ(platform::readFileLimited(configPath(), 4096).value(), before);
    }
    DeviceConfig changed;
    changed.setFrontQuality(3);
    changed.setDriveImpactX(61);
    changed.setTimeZoneIndex(3);
    changed.setEcoThreshold(0);
    writeConfig(changed);
    SettingsEditor editor(QStringLiteral("[Ver 1]"));
    const QString title = editor.windowTitle();
    EXPECT_TRUE(control<QRadioButton>(editor, 3229)->isChecked());
    userClick(control<QRadioButton>(editor, 3101));
    editor.initialize();
    EXPECT_TRUE(editor.rememberedPath().isEmpty());
    EXPECT_EQ(editor.windowTitle(), title);
    EXPECT_TRUE(control<QRadioButton>(editor, 3102)->isChecked());
    EXPECT_TRUE(control<QRadioButton>(editor, 3226)->isChecked());
    EXPECT_EQ(control<QLineEdit>(editor, 3230)->text(), QStringLiteral("0.50"));
    EXPECT_EQ(control<QComboBox>(editor, 3506)->currentIndex(), 28);
    EXPECT_EQ(control<QSlider>(editor, 3946)->value(), 60);
    editor.save();
    EXPECT_TRUE(dialogs_.empty()) << "one card: no save dialog";
    EXPECT_EQ(readBack(configPath()), [] {
        DeviceConfig d;
        d.finalize();
        return d;
    }());
}

TEST_F(SettingsEditorTest, SaveTargetWithoutFile) {
    // Two cards, neither labelled ORVIK: the save dialog; cancelling it keeps the editor open.
    const auto second = root_ / "second";
    std::filesystem::create_directories(second);
    useVolumes({card_.string(), second.string()});
    SettingsEditor editor(QString{});
    editor.save();
    ASSERT_EQ(dialogs_.size(), 1u);
    EXPECT_EQ(dialogs_[0].proposedName, QStringLiteral("config_K7x7.bin"));
    EXPECT_EQ(dialogs_[0].filters, QStringList({"Binary Files (*.bin)", "All Files (*.*)"}));
    EXPECT_NE(editor.result(), QDialog::Accepted);
    EXPECT_FALSE(std::filesystem::exists(configPath()));

    answer_ = QString::fromStdString((root_ / "chosen.bin").string());
    editor.save();
    EXPECT_EQ(editor.result(), QDialog::Accepted);
    EXPECT_TRUE(std::filesystem::exists(root_ / "chosen.bin"));
}

TEST_F(SettingsEditorTest, FailedWritesAreShownAndKeepTheEditorOpen) {
    writeConfig(cardFile());
    const auto before = platform::readFileLimited(configPath(), 4096).value();
    for (int error : {ENOSPC, EROFS}) {
        SCOPED_TRACE(error);
        messages_.clear();
        SettingsEditor editor(QString{});
        userClick(control<QRadioButton>(editor, 3103));
        messages_.clear();
        platform::setWriteFunctionForTesting([error](int, const void*, std::size_t) -> ssize_t {
            errno = error;
            return -1;
        });
        editor.save();
        platform::setWriteFunctionForTesting({});
        ASSERT_EQ(messages_.size(), 1u);
        EXPECT_EQ(messages_[0].icon, MessageIcon::Critical);
        const QString expected =
            error == EROFS ? "The disk cannot be written to" : "could not be saved";
        EXPECT_TRUE(messages_[0].text.contains(expected)) << messages_[0].text.toStdString();
        EXPECT_NE(editor.result(), QDialog::Accepted);
        EXPECT_EQ(platform::readFileLimited(configPath(), 4096).value(), before);
        // The user can retry once the medium is fine again.
        editor.save();
        EXPECT_EQ(editor.result(), QDialog::Accepted);
        writeConfig(cardFile());
    }
}

std::set<QString> controlIds(QWidget& root) {
    std::set<QString> ids;
    for (QWidget* w : root.findChildren<QWidget*>()) {
        bool numeric = false;
        w->objectName().toInt(&numeric);
        if (numeric)
            ids.insert(w->objectName());
    }
    return ids;
}

// Texts a visible control shows, so a missing table entry is caught in either language.
void expectVisibleTexts(QWidget& root) {
    for (QAbstractButton* b : root.findChildren<QAbstractButton*>()) {
        if (!b->isVisibleTo(&root) || !b->text().isEmpty() || b->objectName().isEmpty())
            continue;
        bool numbered = false;
        const int id = b->objectName().toInt(&numbered);
        if (!numbered || (id >= 4029 && id <= 4053))
            continue;  // motion-area cells are drawn, not labelled
        // A radio without text has its caption beside it.
        bool captioned = false;
        for (QLabel* label : b->parentWidget()->findChildren<QLabel*>(Qt::FindDirectChildrenOnly))
            captioned = captioned || !label->text().isEmpty();
        EXPECT_TRUE(captioned) << "control " << id << " has no text";
    }
    for (QGroupBox* g : root.findChildren<QGroupBox*>()) {
        if (g->isVisibleTo(&root)) {
            EXPECT_FALSE(g->title().isEmpty()) << "group " << g->objectName().toStdString();
        }
    }
    for (QLabel* l : root.findChildren<QLabel*>()) {
        if (l->isVisibleTo(&root) && !l->objectName().isEmpty()) {
            EXPECT_FALSE(l->text().isEmpty()) << "caption " << l->objectName().toStdString();
        }
    }
}

TEST_F(SettingsEditorTest, KoreanPageSetHasTheSameControls) {
    SettingsEditor english(QString{});
    const auto englishIds = controlIds(english);
    expectVisibleTexts(english);
    platform::setLanguage(platform::Language::Korean);
    SettingsEditor korean(QString{});
    EXPECT_EQ(controlIds(korean), englishIds);
    expectVisibleTexts(korean);
    const QStringList captions = {"영상",     "기본기능", "GPS기능", "부가기능",
                                  "동작감지", "ADAS",     "오디오",  "주행정보 보기"};
    for (int tab = 0; tab < 8; ++tab)
        EXPECT_EQ(korean.tabs()->tabText(tab), captions[tab]);
    EXPECT_EQ(control<QLabel>(korean, 3265)->text(), QStringLiteral("상  시 :   70%"));
    korean.save();
    EXPECT_TRUE(messages_.empty());
}

}  // namespace
}  // namespace orvik::testing
