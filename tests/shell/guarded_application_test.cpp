// An exception out of a slot or an event handler is reported, and the viewer goes on: the next
// click still works.
#include "ui_common/guarded_application.h"

#include <gtest/gtest.h>

#include <QPushButton>
#include <QTest>
#include <stdexcept>

namespace orvik::ui_common {
namespace {

TEST(GuardedApplication, AnExceptionOutOfASlotIsReportedAndTheWindowGoesOn) {
    static int argc = 1;
    static char name[] = "orvik-guard-test";
    static char* argv[] = {name, nullptr};
    GuardedApplication app(argc, argv);
    QStringList reported;
    GuardedApplication::setReporter([&](const QString& what) { reported << what; });

    QPushButton button(QStringLiteral("Export clip…"));
    int clicks = 0;
    QObject::connect(&button, &QPushButton::clicked, [&] {
        if (++clicks == 1)
            throw std::runtime_error(
                "filesystem error: cannot get file status: Input/output error");
    });
    button.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&button));
    QTest::mouseClick(&button, Qt::LeftButton);
    ASSERT_EQ(reported.size(), 1);
    EXPECT_TRUE(reported[0].contains("Input/output error")) << reported[0].toStdString();
    QTest::mouseClick(&button, Qt::LeftButton);
    EXPECT_EQ(clicks, 2) << "the button still answers";
    EXPECT_EQ(reported.size(), 1);
}

}  // namespace
}  // namespace orvik::ui_common
