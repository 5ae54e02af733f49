// The mission store as the main window and the map read it: key names and
// array size in the INI file, edge values from degrees and flags, box
// ordering, and entries written by hand with keys missing.
#include "mission/missionstore.h"

#include <gtest/gtest.h>

#include <QSettings>

namespace {

class MissionStoreTest : public ::testing::Test {
protected:
    void SetUp() override { QSettings().clear(); }
};

MissionRecord sample(const QString &name)
{
    MissionRecord m;
    m.name = name;
    m.pNumber = QStringLiteral("P77");
    m.tailNum = QStringLiteral("N12");
    m.irTech = QStringLiteral("Kim");
    m.northDeg = 45, m.northMin = 30, m.northNs = 0;
    m.southDeg = 45, m.southMin = 15, m.southNs = 0;
    m.eastDeg = 120, m.eastMin = 45, m.eastEw = 0;
    m.westDeg = 121, m.westMin = 6, m.westEw = 0;
    m.SetValuesFromDegrees();
    m.logPath = QStringLiteral("C:\\CindrelData");
    m.avgGndElev = 10000;
    m.chgBox = 2;
    m.makeVrml = 3;
    m.showBox = 1;
    return m;
}

TEST_F(MissionStoreTest, EntriesUseTheKeysAndArrayOthersRead)
{
    MissionStore::Write(0, sample(QStringLiteral("First")));
    MissionStore::Write(1, sample(QStringLiteral("Second")));

    // Read back the way the map and the main window do, without the class.
    QSettings s;
    ASSERT_EQ(s.beginReadArray(QStringLiteral("MsnList")), 2);
    s.setArrayIndex(1);
    EXPECT_EQ(s.value(QStringLiteral("Msn_Name")).toString(), QStringLiteral("Second"));
    EXPECT_EQ(s.value(QStringLiteral("P-Number")).toString(), QStringLiteral("P77"));
    EXPECT_EQ(s.value(QStringLiteral("TailNum")).toString(), QStringLiteral("N12"));
    EXPECT_EQ(s.value(QStringLiteral("IrTech")).toString(), QStringLiteral("Kim"));
    EXPECT_EQ(s.value(QStringLiteral("North_Deg")).toInt(), 45);
    EXPECT_EQ(s.value(QStringLiteral("North_Min")).toInt(), 30);
    EXPECT_EQ(s.value(QStringLiteral("North_ns")).toInt(), 0);
    EXPECT_EQ(s.value(QStringLiteral("South_Min")).toInt(), 15);
    EXPECT_EQ(s.value(QStringLiteral("East_Deg")).toInt(), 120);
    EXPECT_EQ(s.value(QStringLiteral("East_ew")).toInt(), 0);
    EXPECT_EQ(s.value(QStringLiteral("West_Min")).toInt(), 6);
    EXPECT_EQ(s.value(QStringLiteral("West_ew")).toInt(), 0);
    // Decimal values as plain numbers, not as serialised variants.
    EXPECT_EQ(s.value(QStringLiteral("North_Val")).toString(), QStringLiteral("45.5"));
    EXPECT_EQ(s.value(QStringLiteral("South_Val")).toString(), QStringLiteral("45.25"));
    EXPECT_EQ(s.value(QStringLiteral("East_Val")).toString(), QStringLiteral("-120.75"));
    EXPECT_EQ(s.value(QStringLiteral("West_Val")).toString(), QStringLiteral("-121.1"));
    EXPECT_EQ(s.value(QStringLiteral("LogPath")).toString(), QStringLiteral("C:\\CindrelData"));
    EXPECT_EQ(s.value(QStringLiteral("AvgGndElev")).toInt(), 10000);
    EXPECT_EQ(s.value(QStringLiteral("ChgBox")).toInt(), 2);
    EXPECT_EQ(s.value(QStringLiteral("MakeVrml")).toInt(), 3);
    EXPECT_EQ(s.value(QStringLiteral("ShowBox")).toInt(), 1);
    s.endArray();

    const QList<MissionRecord> all = MissionStore::ReadAll();
    ASSERT_EQ(all.size(), 2);
    EXPECT_EQ(all[0].name, QStringLiteral("First"));
    EXPECT_FLOAT_EQ(all[1].westVal, -121.1f);
    EXPECT_EQ(all[1].makeVrml, 3);
}

TEST_F(MissionStoreTest, MissingKeysReadAsZeroAndOutOfRangeAsEmpty)
{
    {
        QSettings s;
        s.beginWriteArray(QStringLiteral("MsnList"), 1);
        s.setArrayIndex(0);
        s.setValue(QStringLiteral("Msn_Name"), QStringLiteral("Sparse"));
        s.setValue(QStringLiteral("North_Val"), 44.25);
        s.endArray();
    }
    const MissionRecord m = MissionStore::Read(0);
    EXPECT_EQ(m.name, QStringLiteral("Sparse"));
    EXPECT_FLOAT_EQ(m.northVal, 44.25f);
    EXPECT_EQ(m.northDeg, 0);
    EXPECT_EQ(m.showBox, 0);
    EXPECT_TRUE(m.tailNum.isEmpty());

    EXPECT_TRUE(MissionStore::Read(1).name.isEmpty());
    EXPECT_TRUE(MissionStore::Read(-1).name.isEmpty());
}

TEST_F(MissionStoreTest, SizeFollowsWritesAndPartialRewritesKeepTheRest)
{
    MissionStore::Write(0, sample(QStringLiteral("A")));
    MissionStore::Write(3, sample(QStringLiteral("D")));   // beyond the end: the array grows
    EXPECT_EQ(MissionStore::Count(), 4);
    MissionStore::Write(1, sample(QStringLiteral("B")));   // inside: the size stays
    EXPECT_EQ(MissionStore::Count(), 4);
    EXPECT_EQ(MissionStore::Append(sample(QStringLiteral("E"))), 4);
    EXPECT_EQ(MissionStore::Count(), 5);

    MissionRecord edited = sample(QStringLiteral("A2"));
    edited.northNs = 1;
    edited.logPath = QStringLiteral("D:\\Other");
    edited.avgGndElev = 1;
    edited.chgBox = 9;
    edited.makeVrml = 9;
    edited.showBox = 9;
    ASSERT_TRUE(MissionStore::WriteBoxAndTexts(0, edited));
    const MissionRecord back = MissionStore::Read(0);
    EXPECT_EQ(back.name, QStringLiteral("A2"));
    EXPECT_EQ(back.northNs, 1);
    // Log path, elevation and the three flags belong to the entry, not to the box.
    EXPECT_EQ(back.logPath, QStringLiteral("C:\\CindrelData"));
    EXPECT_EQ(back.avgGndElev, 10000);
    EXPECT_EQ(back.chgBox, 2);
    EXPECT_EQ(back.makeVrml, 3);
    EXPECT_EQ(back.showBox, 1);
    EXPECT_EQ(MissionStore::Count(), 5);

    // No entry is made up outside the array.
    EXPECT_FALSE(MissionStore::WriteBoxAndTexts(5, edited));
    EXPECT_FALSE(MissionStore::WriteBoxAndTexts(-1, edited));
    EXPECT_EQ(MissionStore::Count(), 5);

    MissionStore::Clear();
    EXPECT_EQ(MissionStore::Count(), 0);
    EXPECT_FALSE(QSettings().childGroups().contains(QStringLiteral("MsnList")));
}

TEST_F(MissionStoreTest, EdgeValuesFollowHemisphereFlags)
{
    EXPECT_DOUBLE_EQ(MissionRecord::LatitudeValue(45, 30, 0), 45.5);
    EXPECT_DOUBLE_EQ(MissionRecord::LatitudeValue(45, 30, 1), -45.5);
    EXPECT_DOUBLE_EQ(MissionRecord::LongitudeValue(120, 15, 0), -120.25);
    EXPECT_DOUBLE_EQ(MissionRecord::LongitudeValue(120, 15, 1), 120.25);
    // An all-zero box stores 0, never "-0".
    MissionRecord zero;
    zero.SetValuesFromDegrees();
    EXPECT_EQ(MissionStore::FloatText(zero.westVal), QStringLiteral("0"));
    EXPECT_EQ(MissionStore::FloatText(zero.eastVal), QStringLiteral("0"));
}

TEST_F(MissionStoreTest, OrderBoxExchangesWholeEdges)
{
    MissionRecord m;
    // North edge at 5 N, "south" edge at 10 N; west at 100 E, "east" at 110 W.
    m.northDeg = 5, m.northMin = 10, m.northNs = 0;
    m.southDeg = 10, m.southMin = 20, m.southNs = 0;
    m.westDeg = 100, m.westMin = 1, m.westEw = 1;
    m.eastDeg = 110, m.eastMin = 2, m.eastEw = 0;
    m.SetValuesFromDegrees();
    EXPECT_TRUE(m.OrderBox());
    EXPECT_EQ(m.northDeg, 10);
    EXPECT_EQ(m.northMin, 20);
    EXPECT_EQ(m.southDeg, 5);
    EXPECT_EQ(m.southMin, 10);
    EXPECT_EQ(m.eastDeg, 100);
    EXPECT_EQ(m.eastEw, 1);
    EXPECT_EQ(m.westDeg, 110);
    EXPECT_EQ(m.westEw, 0);
    EXPECT_GT(m.northVal, m.southVal);
    EXPECT_GT(m.eastVal, m.westVal);
    EXPECT_FALSE(m.OrderBox());

    // Hemispheres decide, not the degree numbers: 10 S lies south of 5 N.
    MissionRecord h;
    h.northDeg = 10, h.northNs = 1;
    h.southDeg = 5, h.southNs = 0;
    h.SetValuesFromDegrees();
    EXPECT_TRUE(h.OrderBox());
    EXPECT_EQ(h.northDeg, 5);
    EXPECT_EQ(h.northNs, 0);
    EXPECT_EQ(h.southDeg, 10);
    EXPECT_EQ(h.southNs, 1);
}

TEST_F(MissionStoreTest, SelectionAndFloatTextRoundTrip)
{
    EXPECT_EQ(MissionStore::SelectedIndex(), 0);
    MissionStore::SetSelectedIndex(3);
    EXPECT_EQ(QSettings().value(QStringLiteral("LastUsed/MissionSelect")).toInt(), 3);

    for (float v : {45.5f, -121.1f, 0.1f, 64.0166664f, -179.999f, 1e-7f}) {
        const QString t = MissionStore::FloatText(v);
        EXPECT_EQ(t.toFloat(), v) << t.toStdString();
    }
}

} // namespace
