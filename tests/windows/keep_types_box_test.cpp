// The tables window's "Keep field types and keys" box: it sits in free
// room without covering any control, and its state outlives the program.
#include <QCheckBox>
#include <QGroupBox>
#include <QTest>

#include "windows/flow.h"
#include "windows/gui_fixture.h"

namespace corvane::windows {
namespace {

using testing::GuiTest;

TEST_F(GuiTest, KeepTypesBoxCoversNothingAndARestartKeepsItsState) {
  {
    Windows w(Services());
    auto* box = w.form2().findChild<QCheckBox*>(QStringLiteral("Check1"));
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->text(), "Keep field types and keys");
    EXPECT_FALSE(box->isChecked());  // off by default
    // At the designed size and enlarged, where the lists and buttons move:
    // whole (nothing clips it) and over no other control.
    for (int grow : {0, 300}) {
      w.form2().resize(w.form2().size() + QSize(grow, grow));
      const QRect at(box->mapTo(&w.form2(), QPoint(0, 0)), box->size());
      EXPECT_TRUE(w.form2().rect().contains(at)) << grow;
      EXPECT_GE(box->width(), box->sizeHint().width());
      EXPECT_GE(box->height(), box->sizeHint().height());
      for (QWidget* other : w.form2().findChildren<QWidget*>()) {
        if (other == box || other->isWindow() || qobject_cast<QGroupBox*>(other) ||
            !other->isVisibleTo(&w.form2()) || other->parentWidget() == box) {
          continue;
        }
        const QRect there(other->mapTo(&w.form2(), QPoint(0, 0)), other->size());
        EXPECT_FALSE(there.intersects(at)) << other->objectName().toStdString() << " " << grow;
      }
    }
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
    EXPECT_TRUE(box->isChecked());
    EXPECT_EQ(Stored("KeepTypes"), "1");
  }
  Windows again(Services());
  auto* box = again.form2().findChild<QCheckBox*>(QStringLiteral("Check1"));
  EXPECT_TRUE(box->isChecked());
  box->click();
  EXPECT_EQ(Stored("KeepTypes"), "0");
}

}  // namespace
}  // namespace corvane::windows
