// Every page of the settings editor and every device dialog, in English and Korean: no label,
// button or group title is wider than the room its control gives it, and no control lies outside
// its page or window.
#include <QAbstractButton>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QStyleOptionButton>
#include <QStyleOptionGroupBox>
#include <QTabWidget>
#include <QTest>

#include "card_format/ui/card_format_dialog.h"
#include "device_config/ui/device_time_dialog.h"
#include "device_config/ui/settings_editor.h"
#include "gui_fixture.h"
#include "layout_check.h"
#include "ui_common/dialog_look.h"

namespace orvik::testing {
namespace {

using namespace device_config::ui;

class FitTest : public GuiTest {
  protected:
    void check(QWidget* area, const QString& where) {
        for (const std::string& problem : layoutProblems(area))
            ADD_FAILURE() << where.toStdString() << ": " << problem;
    }
};

const char* languageName(platform::Language l) {
    return l == platform::Language::Korean ? "Korean" : "English";
}

TEST_F(FitTest, EverySettingsPageFitsInBothLanguages) {
    writeConfig(device_config::DeviceConfig());
    for (auto language : {platform::Language::English, platform::Language::Korean}) {
        platform::setLanguage(language);
        SettingsEditor editor(QStringLiteral("[Ver 1.0.2.0]"));
        editor.setCardToolsEnabled(true);  // the hidden SD Card Format button must fit too
        editor.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&editor));
        for (int tab = 0; tab < editor.tabs()->count(); ++tab) {
            editor.tabs()->setCurrentIndex(tab);
            QWidget* page = editor.tabs()->widget(tab);
            ASSERT_TRUE(QTest::qWaitFor([&] { return page->isVisible(); }));
            check(page, QStringLiteral("%1 page %2").arg(languageName(language)).arg(tab));
            // ORVIK_FIT_SHOTS=DIR keeps a picture of each page to look at.
            if (const QString dir = qEnvironmentVariable("ORVIK_FIT_SHOTS"); !dir.isEmpty())
                editor.grab().save(QStringLiteral("%1/page%2-%3.png")
                                       .arg(dir)
                                       .arg(tab)
                                       .arg(languageName(language)));
        }
        check(&editor, QStringLiteral("%1 editor").arg(languageName(language)));
        editor.reject();
    }
}

TEST_F(FitTest, DeviceTimeAndCardFormatDialogsFit) {
    for (auto language : {platform::Language::English, platform::Language::Korean}) {
        platform::setLanguage(language);
        DeviceTimeDialog time;
        time.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&time));
        check(&time, QStringLiteral("%1 device time").arg(languageName(language)));

        card_format::CardTarget target;
        target.totalBytes = 31914983424ull;
        target.fileSystem = "FAT32";
        card_format::ui::CardFormatDialog format{Result<card_format::CardTarget>(target)};
        format.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&format));
        check(&format, QStringLiteral("%1 card format").arg(languageName(language)));
    }
}

// The dialogs keep the desktop's palette and font whatever the application's skin sets, and the
// named controls carry the registered font.
TEST_F(FitTest, DialogsKeepTheirOwnLookAndTheRegisteredFont) {
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(0x1d, 0x21, 0x27));
    const QPalette before = QApplication::palette();
    const QFont beforeFont = QApplication::font();
    QApplication::setPalette(dark);
    QFont odd(QStringLiteral("Serif"));
    odd.setPixelSize(23);
    QApplication::setFont(odd);
    {
        SettingsEditor editor(QString{});
        EXPECT_NE(editor.palette().color(QPalette::Window), QColor(0x1d, 0x21, 0x27));
        EXPECT_NE(editor.font().pixelSize(), 23);
        const QFont registered = ui_common::registeredFont(ui_common::kRegisteredFontList);
        for (int id : {1, 2, 3002, 3003, 3101, 3210, 3268, 3402, 3501, 3601, 4003, 4205, 3718}) {
            auto* w = editor.findChild<QWidget*>(QString::number(id));
            ASSERT_NE(w, nullptr) << id;
            EXPECT_EQ(w->font().toString(), registered.toString()) << id;
        }
        // Outside the named runs: the dialog's own font, even inside a group that has font 100.
        for (int id : {3001, 3458, 3940, 3946, 4236}) {
            auto* w = editor.findChild<QWidget*>(QString::number(id));
            ASSERT_NE(w, nullptr) << id;
            EXPECT_EQ(w->font().toString(), editor.font().toString()) << id;
        }
    }
    QApplication::setPalette(before);
    QApplication::setFont(beforeFont);
}

}  // namespace
}  // namespace orvik::testing
