// The fire detection thresholds panel against an in-memory source and a
// recording owner.
#include "display/dspsig.h"
#include "display/wflabel.h"
#include "displayfakes.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QFile>
#include <QGridLayout>
#include <QGuiApplication>
#include <QScreen>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSettings>

#include <memory>

namespace {

class DspSigTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QSettings().clear();
        QFile::remove(QStringLiteral("Cindrel64_Config.ini"));
        source = std::make_unique<MemSource>(&owner.curve);
    }
    void attach() { owner.source = source.get(); }
    std::unique_ptr<DspSig> makePanel() { return std::make_unique<DspSig>(&owner, nullptr); }

    // One tick of the panel with the given lines as the last cycle's.
    void tick(DspSig &panel, const std::vector<ScanLineRec> &lines)
    {
        source->deliver(lines);
        panel.updateGraph();
    }

    static QVariant setting(const char *key) { return QSettings().value(QLatin1String(key)); }

    FakeOwner owner;
    std::unique_ptr<MemSource> source;
};

ScanLineRec lineWith(std::uint32_t index, std::int32_t fireMargin, std::int32_t bMin, std::int32_t bMax)
{
    ScanLineRec l = makeLine(index);
    l.fireMargin = fireMargin;
    l.chnBMin = bMin;
    l.chnBMax = bMax;
    return l;
}

} // namespace

TEST_F(DspSigTest, StartsFromSettingsOwnerAndStepFiles)
{
    {
        QSettings s;
        s.setValue("LastUsed/FireThreshold", 77);
        s.setValue("LastUsed/ChnBGain", 2.5f);
        s.setValue("LastUsed/ChnBOffset", 5);
        s.setValue("LastUsed/ChnBOfs", 999);   // written by the panel, never read back
        s.setValue("LastUsed/FireDetectAutoAmt", 12);
        s.setValue("Fire/PageStep", 40);
        s.setValue("BMin/SingleStep", 3);
    }
    {
        QSettings config(QStringLiteral("Cindrel64_Config.ini"), QSettings::IniFormat);
        config.setValue("Center/PageStep", 60);
        config.setValue("Center/SingleStep", 7);
    }
    owner.bMax = 3000;
    owner.bMin = -200;
    auto panel = makePanel();
    EXPECT_EQ(panel->fireThreshold(), 77);
    EXPECT_EQ(panel->chnBOffset(), 5);
    EXPECT_FLOAT_EQ(panel->chnBGain(), 2.5f);
    EXPECT_EQ(panel->bMaxThreshold(), 3000);
    EXPECT_EQ(panel->bMinThreshold(), -200);
    EXPECT_EQ(panel->fireAmountEdit()->text(), "12");
    EXPECT_EQ(panel->bMaxAmountEdit()->text(), "4800");
    EXPECT_EQ(panel->bMinAmountEdit()->text(), "1");

    EXPECT_EQ(panel->fireScroll()->pageStep(), 40);
    EXPECT_EQ(panel->fireScroll()->singleStep(), 5);
    EXPECT_EQ(panel->bMinScroll()->singleStep(), 3);
    EXPECT_EQ(panel->offsetScroll()->pageStep(), 60);
    EXPECT_EQ(panel->offsetScroll()->singleStep(), 7);
    EXPECT_EQ(panel->fireScroll()->value(), 77);
    EXPECT_EQ(panel->gainScroll()->value(), 25);
    EXPECT_EQ(panel->offsetScroll()->value(), 5);
    EXPECT_EQ(panel->vhScroll()->value(), 5);

    EXPECT_EQ(panel->fireLabel()->text(), "77, (-32000/-32000)");
    EXPECT_EQ(panel->bMaxLabel()->text(), "35768, (768/768)");
    EXPECT_EQ(panel->bMinLabel()->text(), "32568, (64768/64768)");
    EXPECT_EQ(panel->gainLabel()->text(), "2.5");
    EXPECT_EQ(panel->offsetLabel()->text(), "32773");
    EXPECT_EQ(panel->vhLabel()->text(), "5 (5)");
    EXPECT_EQ(panel->lockLabel()->text(), "ULK");
    EXPECT_TRUE(panel->vhCheck()->isChecked());
    // Without a source the scale keeps its own zoom, not the owner's.
    owner.fireIdx = 5;
    owner.fireExp = 2;
    EXPECT_EQ(makePanel()->scaleCtrl().GetFireRange(), 20);
}

TEST_F(DspSigTest, ControlsStylesAndLayout)
{
    auto panel = makePanel();
    for (QScrollBar *s : {panel->fireScroll(), panel->bMaxScroll(), panel->bMinScroll(), panel->gainScroll(),
                          panel->offsetScroll(), panel->vhScroll()}) {
        EXPECT_EQ(s->orientation(), Qt::Horizontal);
        EXPECT_FALSE(s->hasTracking());
    }
    EXPECT_EQ(panel->fireScroll()->minimum(), -32768);
    EXPECT_EQ(panel->fireScroll()->maximum(), 32767);
    EXPECT_EQ(panel->gainScroll()->minimum(), 1);
    EXPECT_EQ(panel->gainScroll()->maximum(), 100);
    EXPECT_EQ(panel->vhScroll()->maximum(), 100);
    for (QLabel *l : {panel->fireLabel(), panel->bMaxLabel(), panel->bMinLabel(), panel->gainLabel(),
                      panel->offsetLabel(), panel->vhLabel()})
        EXPECT_EQ(l->styleSheet(), "color: gray");

    auto *thresholds = panel->findChild<QGroupBox *>(QStringLiteral("nameEdit"));
    ASSERT_NE(thresholds, nullptr);
    EXPECT_TRUE(thresholds->isFlat());
    EXPECT_EQ(thresholds->styleSheet(), "QGroupBox#nameEdit { border-style:0 }");
    auto *vh = panel->findChild<QGroupBox *>(QStringLiteral("vBoxEdit"));
    ASSERT_NE(vh, nullptr);
    EXPECT_EQ(vh->styleSheet(), "QGroupBox#vBoxEdit { border-style:0 }");

    // Positions in the threshold grid: text -> (row, column, column span).
    auto *grid = qobject_cast<QGridLayout *>(thresholds->layout());
    ASSERT_NE(grid, nullptr);
    auto where = [&](QWidget *w) {
        int r, c, rs, cs;
        grid->getItemPosition(grid->indexOf(w), &r, &c, &rs, &cs);
        return QString("%1,%2,%3").arg(r).arg(c).arg(cs);
    };
    QStringList buttons;
    for (QPushButton *b : thresholds->findChildren<QPushButton *>())
        buttons << b->text() + "@" + where(b);
    buttons.sort();
    EXPECT_EQ(buttons.join(' '),
              "Auto*@6,1,1 Auto@0,0,1 Auto@2,0,1 Auto@4,0,1 Clear@6,2,1 Lock@7,1,1 Reset@7,3,1 "
              "Unlock@7,2,1 ZoomIn@1,0,1 ZoomIn@3,0,1 ZoomIn@5,0,1 ZoomOut@1,4,1 ZoomOut@3,4,1 ZoomOut@5,4,1");
    EXPECT_EQ(where(panel->fireScroll()), "1,1,3");
    EXPECT_EQ(where(panel->bMinScroll()), "5,1,3");
    EXPECT_EQ(where(panel->bMaxLabel()), "2,3,2");
    EXPECT_EQ(where(panel->lockLabel()), "7,0,1");

    auto *main = qobject_cast<QGridLayout *>(panel->layout());
    ASSERT_NE(main, nullptr);
    int r, c, rs, cs;
    main->getItemPosition(main->indexOf(thresholds), &r, &c, &rs, &cs);
    EXPECT_EQ(QList<int>({r, c, rs, cs}), QList<int>({0, 0, 8, 6}));
    main->getItemPosition(main->indexOf(vh), &r, &c, &rs, &cs);
    EXPECT_EQ(QList<int>({r, c, rs, cs}), QList<int>({6, 7, 6, 6}));
    EXPECT_TRUE(panel->scaleLabel()->wholeImage());
    EXPECT_EQ(panel->scaleLabel()->sourceRect(), QRect(0, 0, 480, 170));
    // The picture prefers its own size and may shrink to half; the panel
    // prefers half the screen's width and at most 3/4 (5/8 on tall screens)
    // of its height, and needs less.
    EXPECT_EQ(panel->scaleLabel()->sizeHint(), QSize(480, 170));
    EXPECT_EQ(panel->scaleLabel()->minimumSizeHint(), QSize(240, 85));
    const QRect avail = QGuiApplication::primaryScreen()->availableGeometry();
    const int h = avail.height() >= 1100 ? avail.height() * 5 / 8 : avail.height() * 3 / 4;
    EXPECT_GE(panel->sizeHint().width(), avail.width() / 2);
    EXPECT_LE(panel->sizeHint().height(), std::max(h, panel->minimumSizeHint().height()));
    EXPECT_LE(panel->minimumSizeHint().height(), panel->sizeHint().height());
    EXPECT_LE(panel->minimumSizeHint().height(), 480);   // fits a 1366 x 768 screen with the map
}

TEST_F(DspSigTest, SetSignalParamAppliesEachControl)
{
    attach();
    auto panel = makePanel();

    // Fire: sent, kept, marked on the scale, saved, shown.
    EXPECT_EQ(panel->SetSignalParam(1, 350), 350);
    EXPECT_EQ(source->calls.last(), "SetFireThreshold 350");
    EXPECT_EQ(panel->fireThreshold(), 350);
    EXPECT_EQ(panel->scaleCtrl().GetFireThreshold(), 350);
    EXPECT_EQ(setting("LastUsed/FireThreshold").toInt(), 350);
    EXPECT_TRUE(panel->fireLabel()->text().startsWith("350, "));
    EXPECT_EQ(panel->fireScroll()->value(), 350);

    // BMax and BMin also change the owner's channel B limits.
    EXPECT_EQ(panel->SetSignalParam(2, 1200), 1200);
    EXPECT_EQ(source->calls.last(), "SetBMax 1200");
    EXPECT_EQ(owner.bMax, 1200);
    EXPECT_EQ(panel->scaleCtrl().GetBMaxThreshold(), 1200);
    EXPECT_TRUE(panel->bMaxLabel()->text().startsWith("33968, "));
    EXPECT_EQ(panel->SetSignalParam(3, -40), -40);
    EXPECT_EQ(source->calls.last(), "SetBMin -40");
    EXPECT_EQ(owner.bMin, -40);
    EXPECT_TRUE(panel->bMinLabel()->text().startsWith("32728, "));
    EXPECT_EQ(panel->bMinScroll()->value(), -40);

    // Gain in tenths.
    panel->SetSignalParam(4, 25);
    EXPECT_EQ(source->calls.last(), "SetChnBGain 2.5");
    EXPECT_FLOAT_EQ(setting("LastUsed/ChnBGain").toFloat(), 2.5f);
    EXPECT_EQ(panel->gainLabel()->text(), "2.5");
    EXPECT_EQ(panel->gainScroll()->value(), 25);

    // A source that ignores the gain does not turn the operator's choice
    // into a gain of 0.
    source->gainIgnored = true;
    panel->gainScroll()->setValue(40);
    EXPECT_FLOAT_EQ(panel->chnBGain(), 4.0f);
    EXPECT_FLOAT_EQ(setting("LastUsed/ChnBGain").toFloat(), 4.0f);
    EXPECT_EQ(panel->gainScroll()->value(), 40);
    source->gainIgnored = false;

    // Offset: saved under the other key.
    EXPECT_EQ(panel->SetSignalParam(5, -3), -3);
    EXPECT_EQ(source->calls.last(), "SetChnBOffset -3");
    EXPECT_EQ(setting("LastUsed/ChnBOfs").toInt(), -3);
    EXPECT_FALSE(QSettings().contains("LastUsed/ChnBOffset"));
    EXPECT_EQ(panel->offsetLabel()->text(), "32765");

    // Override: switched on by moving the scroll bar even when unchecked.
    panel->vhCheck()->blockSignals(true);
    panel->vhCheck()->setChecked(false);
    panel->vhCheck()->blockSignals(false);
    panel->vhScroll()->setValue(12);
    EXPECT_EQ(source->calls.last(), "SetVOverHOverride 12");
    EXPECT_TRUE(panel->vhCheck()->isChecked());   // the box shows it
    EXPECT_EQ(setting("LastUsed/VhOverride").toInt(), 12);
    EXPECT_EQ(panel->vhLabel()->text(), "12 (5)");

    // A scroll bar moved by the operator goes through the same place.
    panel->fireScroll()->setValue(360);
    EXPECT_EQ(panel->fireThreshold(), 360);
    EXPECT_EQ(source->calls.last(), "SetFireThreshold 360");
}

TEST_F(DspSigTest, SetSignalParamRefusals)
{
    auto panel = makePanel();
    // No source: nothing for any control.
    for (int which = 1; which <= 6; ++which)
        EXPECT_EQ(panel->SetSignalParam(which, 10), -1) << which;
    EXPECT_FALSE(QSettings().contains("LastUsed/FireThreshold"));
    EXPECT_FALSE(QSettings().contains("LastUsed/ChnBOfs"));
    EXPECT_EQ(panel->fireThreshold(), 100);
    EXPECT_EQ(owner.bMax, 65000);

    attach();
    EXPECT_EQ(panel->SetSignalParam(0, 10), -1);
    EXPECT_EQ(panel->SetSignalParam(7, 10), -1);
    for (int which = 1; which <= 3; ++which) {
        EXPECT_EQ(panel->SetSignalParam(which, 32768), -1);
        EXPECT_EQ(panel->SetSignalParam(which, -32769), -1);
    }
    EXPECT_TRUE(source->calls.isEmpty());
    EXPECT_FALSE(QSettings().contains("LastUsed/FireThreshold"));
    EXPECT_EQ(panel->SetSignalParam(1, 32767), 32767);
    EXPECT_EQ(panel->SetSignalParam(3, -32768), -32768);
}

TEST_F(DspSigTest, AutoThresholdsAddTheirAmounts)
{
    attach();
    auto panel = makePanel();
    tick(*panel, {lineWith(1, 280, -10, 900), lineWith(2, 300, -12, 950)});
    EXPECT_EQ(panel->fireNewest(), 300);

    // Fire newest 300 + the default amount 200 = 500, sent to the source.
    panel->OnAutoFireThresh();
    EXPECT_EQ(panel->fireThreshold(), 500);
    EXPECT_TRUE(source->calls.contains("SetFireThreshold 500"));
    EXPECT_EQ(setting("LastUsed/FireDetectAutoAmt").toInt(), 200);

    source->calls.clear();
    panel->bMaxAmountEdit()->setText("100");
    panel->bMinAmountEdit()->setText("junk");   // not a number: 0
    panel->fireAmountEdit()->setText("-20");
    panel->OnAutoAll();
    EXPECT_EQ(source->calls.first(), "SetFireThreshold 280");
    EXPECT_TRUE(source->calls.contains("SetBMax 1050"));
    EXPECT_EQ(source->calls.last(), "SetBMin -12");
    EXPECT_EQ(owner.bMax, 1050);
    EXPECT_EQ(owner.bMin, -12);
    EXPECT_EQ(setting("LastUsed/BMaxAutoAmtToStore").toInt(), 100);
    EXPECT_EQ(setting("LastUsed/BMinAutoAmtToStore").toInt(), 0);
    EXPECT_EQ(setting("LastUsed/FireDetectAutoAmt").toInt(), -20);

    // A sum out of range is refused and leaves the threshold alone.
    panel->bMaxAmountEdit()->setText("32767");
    panel->OnAutoBMaxThresh();
    EXPECT_EQ(panel->bMaxThreshold(), 1050);
    EXPECT_EQ(owner.bMax, 1050);
}

TEST_F(DspSigTest, AutoWithoutSourceOnlyStoresAmounts)
{
    auto panel = makePanel();
    panel->bMaxAmountEdit()->setText("70");
    panel->OnAutoAll();
    EXPECT_EQ(setting("LastUsed/BMaxAutoAmtToStore").toInt(), 70);
    EXPECT_EQ(setting("LastUsed/FireDetectAutoAmt").toInt(), 200);
    EXPECT_EQ(panel->bMaxThreshold(), 65000);
    EXPECT_EQ(panel->bMinThreshold(), 1000);
    EXPECT_EQ(panel->fireThreshold(), 100);
    // The curve, override and Auto-Center commands do nothing either.
    owner.curve.set(5, 1);
    panel->OnLockCurve();
    panel->OnResetCurve();
    panel->OnVoverhOverride();
    panel->OnAutoCalibrate();
    EXPECT_FALSE(owner.curve.locked());
    EXPECT_EQ(owner.curve.at(5), 1);
    EXPECT_TRUE(panel->vhOverrideOn());
    EXPECT_EQ(panel->offsetLabel()->text(), "32868");
}

TEST_F(DspSigTest, AutoCenterTruncatesTowardZero)
{
    attach();
    auto panel = makePanel();
    source->deliver({lineWith(1, 0, -7, 0)});
    panel->OnAutoCalibrate();
    EXPECT_TRUE(source->calls.contains("SetChnBOffset -3"));
    EXPECT_EQ(panel->offsetScroll()->value(), -3);
    EXPECT_EQ(panel->offsetLabel()->text(), "32765");
    EXPECT_EQ(setting("LastUsed/ChnBOfs").toInt(), -3);
}

TEST_F(DspSigTest, TickTakesNewestLinesAndClearResetsExtremes)
{
    attach();
    auto panel = makePanel();
    std::vector<ScanLineRec> burst;
    for (std::uint32_t i = 0; i < 450; ++i)
        burst.push_back(lineWith(i + 1, std::int32_t(i), -100 - std::int32_t(i), 500));
    source->priorCalls = 0;
    tick(*panel, burst);
    // Only the newest 300, oldest first.
    EXPECT_EQ(source->priorCalls, 300);
    ASSERT_EQ(panel->fireHistory().size(), 300u);
    EXPECT_EQ(panel->fireHistory().front(), 150);
    EXPECT_EQ(panel->fireHistory().back(), 449);
    EXPECT_EQ(panel->chnBHistory().back(), 500);
    EXPECT_EQ(panel->fireNewest(), 449);
    EXPECT_EQ(panel->fireHighest(), 449);
    EXPECT_EQ(panel->bMinNewest(), -549);
    EXPECT_EQ(panel->bMaxHighest(), 500);
    EXPECT_EQ(panel->fireLabel()->text(), "100, (449/449)");

    // The extremes are kept across ticks; newest follows the last line.
    tick(*panel, {lineWith(451, 10, -5, 400)});
    EXPECT_EQ(panel->fireHighest(), 449);
    EXPECT_EQ(panel->fireNewest(), 10);
    EXPECT_EQ(panel->bMaxHighest(), 500);
    EXPECT_EQ(panel->bMaxNewest(), 400);
    EXPECT_EQ(panel->bMinLowest(), -549);
    ASSERT_EQ(panel->fireHistory().size(), 1u);

    panel->OnClearMaxVals();
    EXPECT_EQ(panel->fireNewest(), 10);
    EXPECT_EQ(panel->bMaxNewest(), 400);
    EXPECT_EQ(panel->fireThreshold(), 100);
    EXPECT_EQ(panel->fireLabel()->text(), "100, (10/-32000)");
    EXPECT_EQ(panel->bMaxLabel()->text(), "97768, (33168/768)");
    EXPECT_EQ(panel->bMinLabel()->text(), "33768, (32763/64768)");

    // A tick without lines still refreshes the channel B values and picture.
    source->DoNextFwdCycle(0, false, true);
    panel->updateGraph();
    EXPECT_EQ(panel->bMaxHighest(), 400);
    EXPECT_TRUE(panel->fireHistory().empty());
}

TEST_F(DspSigTest, SourceThresholdsWinBetweenTicks)
{
    attach();
    auto panel = makePanel();
    panel->SetSignalParam(1, 350);
    ScanLineRec replayed = lineWith(1, 0, 0, 0);
    replayed.fireThreshold = 120;      // the log's recorded threshold
    replayed.chnBGain = 3.0f;
    replayed.chnBOffset = -50;
    replayed.vhInterval = 9;
    tick(*panel, {replayed});
    EXPECT_EQ(panel->fireThreshold(), 120);
    EXPECT_TRUE(panel->fireLabel()->text().startsWith("120, "));
    EXPECT_FLOAT_EQ(panel->chnBGain(), 3.0f);
    EXPECT_EQ(panel->chnBOffset(), -50);
    EXPECT_EQ(panel->vOverH(), 9);
    EXPECT_FALSE(panel->vhOverrideOn());
    EXPECT_FALSE(panel->vhCheck()->isChecked());   // the box shows the state in force
    replayed.vhOverrideOn = 1;
    tick(*panel, {replayed});
    EXPECT_TRUE(panel->vhCheck()->isChecked());
    EXPECT_EQ(panel->scaleCtrl().GetFireThreshold(), 120);
}

TEST_F(DspSigTest, CurveCommandsAndOverrideToggle)
{
    attach();
    auto panel = makePanel();
    owner.curve.set(40000, 7);
    owner.curve.set(100, 3);

    panel->OnLockCurve();
    EXPECT_TRUE(owner.curve.locked());
    EXPECT_EQ(source->calls.last(), "LockCurve 1");
    EXPECT_EQ(panel->lockLabel()->text(), "LKD");
    panel->OnUnLockCurve();
    EXPECT_FALSE(owner.curve.locked());
    EXPECT_EQ(source->calls.last(), "LockCurve 0");
    EXPECT_EQ(panel->lockLabel()->text(), "ULK");

    panel->OnLockCurve();
    panel->OnResetCurve();
    EXPECT_FALSE(owner.curve.locked());
    EXPECT_EQ(panel->lockLabel()->text(), "ULK");
    EXPECT_EQ(source->calls.last(), "ResetCurve 1");
    EXPECT_EQ(owner.curve.at(100), 32768);
    EXPECT_EQ(owner.curve.at(1), 32768);
    EXPECT_EQ(owner.curve.at(32768), 32768);
    EXPECT_NE(owner.curve.at(40000), 7);

    // The source is told what the box says: the first click after
    // start-up unchecks it and switches the override off.
    source->calls.clear();
    ASSERT_TRUE(panel->vhCheck()->isChecked());
    panel->vhCheck()->setChecked(false);
    EXPECT_EQ(source->calls, QStringList({"SetVOverHOverride -1"}));
    EXPECT_FALSE(panel->vhOverrideOn());
    panel->vhCheck()->setChecked(true);
    EXPECT_EQ(source->calls.last(), "SetVOverHOverride 5");
    EXPECT_TRUE(panel->vhOverrideOn());
}

TEST_F(DspSigTest, ZoomButtonsStoreInOwner)
{
    auto panel = makePanel();   // works without a source too
    panel->OnZoomIn();
    EXPECT_EQ(owner.fireIdx, 1);
    EXPECT_EQ(owner.fireExp, 1);
    panel->OnZoomOut();
    panel->OnZoomOut();
    EXPECT_EQ(owner.fireIdx, 5);
    EXPECT_EQ(owner.fireExp, 1);
    EXPECT_EQ(panel->scaleCtrl().GetFireRange(), 50);
    panel->OnBMaxZoomOut();
    EXPECT_EQ(owner.bMaxIdx, 5);   // the panel's own scale started at 2 x 10
    EXPECT_EQ(owner.bMaxExp, 1);
    panel->OnBMaxZoomIn();
    EXPECT_EQ(owner.bMaxIdx, 2);

    // With a source the owner's zoom fields are loaded at construction.
    attach();
    owner.fireIdx = 5;
    owner.fireExp = 2;
    owner.bMaxIdx = 1;
    owner.bMaxExp = 3;
    auto loaded = makePanel();
    EXPECT_EQ(loaded->scaleCtrl().GetFireRange(), 500);
    EXPECT_EQ(loaded->scaleCtrl().GetBMaxRange(), 1000);
    loaded->OnBMaxZoomIn();
    EXPECT_EQ(owner.bMaxIdx, 5);
    EXPECT_EQ(owner.bMaxExp, 2);
}
