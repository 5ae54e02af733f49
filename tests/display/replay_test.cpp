// The displays driven by a replayed flight log, one record per tick, as the
// main window's loop drives them.
#include "datasource/ccindreldsplog.h"
#include "display/dspsig.h"
#include "display/waterfall.h"
#include "displayfakes.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QLabel>
#include <QSettings>

TEST(DisplayReplay, LogThresholdsWinAndOneLinePerTick)
{
    QSettings().clear();
    QSettings().setValue("LastUsed/FireThreshold", 77);
    FakeOwner owner;
    const QString path = QDir::current().absoluteFilePath(QStringLiteral("20240715_1432_Fire12_1.plf"));
    {
        CCindrelDspLog recorder(&owner.curve);
        ASSERT_TRUE(recorder.OpenForWrite(path));
        for (std::uint32_t i = 0; i < 4; ++i) {
            ScanLineRec l = makeLine(100 + i, std::uint8_t(10 * i));
            l.fireThreshold = 120;
            l.chanA[0] = std::int32_t(10 * (i + 1));   // the replay's fire test measures this margin
            l.chnBMax = 700 + std::int32_t(i);
            ASSERT_TRUE(recorder.WriteRecord(l));
        }
        recorder.Close();
    }
    CCindrelDspLog log(&owner.curve);
    log.OnFileOpen(path);
    ASSERT_TRUE(log.isOpen);
    owner.source = &log;

    WaterFall wf(&owner);
    DspSig panel(&owner);
    EXPECT_EQ(panel.fireThreshold(), 77);
    auto tick = [&] {
        wf.processData();
        panel.updateGraph();
        log.DoNextFwdCycle(0, false, true);
    };
    // Opening took in the first record; each tick shows one more.
    tick();
    EXPECT_EQ(wf.displayRow(), 3071);
    tick();
    EXPECT_EQ(wf.displayRow(), 3070);
    EXPECT_EQ(panel.fireThreshold(), 120);   // the log's recorded threshold
    EXPECT_TRUE(panel.fireLabel()->text().startsWith("120, "));
    EXPECT_EQ(panel.fireNewest(), 20);
    EXPECT_EQ(wf.picture()->pixel(5, 3071), qRgba(253, 253, 253, 255));
    EXPECT_EQ(wf.picture()->pixel(5, 3070), qRgba(243, 243, 243, 255));

    // The operator's threshold goes to the log and holds from then on.
    EXPECT_EQ(panel.SetSignalParam(1, 200), 200);
    tick();
    tick();
    EXPECT_EQ(wf.displayRow(), 3068);
    EXPECT_EQ(panel.fireThreshold(), 200);
    EXPECT_EQ(panel.fireHistory(), std::vector<std::int32_t>({40}));
    EXPECT_EQ(panel.chnBHistory(), std::vector<std::int32_t>({703}));
    EXPECT_EQ(panel.fireHighest(), 40);
    EXPECT_EQ(wf.picture()->pixel(5, 3068), qRgba(223, 223, 223, 255));

    // At the end of the log the ticks bring nothing and change nothing.
    const QImage overlay = wf.overlay()->copy();
    tick();
    tick();
    EXPECT_EQ(wf.displayRow(), 3068);
    EXPECT_EQ(*wf.overlay(), overlay);
    EXPECT_TRUE(panel.fireHistory().empty());
}
