// Mission plan import from XML files the tests write: the conversions of
// edge texts, what one request stores, refused requests, replacing the
// list, unreadable files, and how the command finds its file.
#include "mission/missionplanimport.h"
#include "platform/notice.h"
#include "platform/paths.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QDomDocument>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

namespace {

class MissionPlanImportTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QSettings().clear();
        Notice::clearRecords();
        Notice::clearReplies();
    }
};

QString writeFile(const QString &name, const QByteArray &content)
{
    const QString path = QDir::current().absoluteFilePath(name);
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(content);
    return path;
}

QByteArray request(const QByteArray &name, const QByteArray &north, const QByteArray &south, const QByteArray &east,
                   const QByteArray &west, const QByteArray &extra = QByteArray())
{
    return "<request><name>" + name + "</name><p-number>P-" + name + "</p-number><north>" + north
           + "</north><south>" + south + "</south><east>" + east + "</east><west>" + west + "</west>" + extra
           + "</request>\n";
}

QByteArray plan(const QByteArray &body)
{
    return "<?xml version=\"1.0\"?>\n<request-information>\n" + body + "</request-information>\n";
}

void storeMissions(int n)
{
    for (int i = 0; i < n; ++i) {
        MissionRecord m;
        m.name = QStringLiteral("Old %1").arg(i);
        m.northDeg = 40 + i;
        MissionStore::Write(i, m);
    }
}

QList<Notice::Record> titled(const QString &title)
{
    QList<Notice::Record> out;
    for (const Notice::Record &r : Notice::records())
        if (r.title == title)
            out.append(r);
    return out;
}

// ------------------------------------------------------ text conversions

TEST_F(MissionPlanImportTest, DegreesAndMinutesOfEdgeTexts)
{
    struct Case {
        const char *text;
        int degrees, minutes;
    };
    const Case cases[] = {
        {"45.5", 45, 30},
        {"-120.75", 120, 45},
        {"45.999", 45, 60},      // the caller carries 60 into a degree
        {"45.25", 45, 15},
        {"+44.0125", 44, 1},     // 0.75 minutes rounds up
        {"0.125", 0, 8},         // 7.5 minutes: half away from zero
        {"-121.1", 121, 6},
        {"45", 45, 0},           // whole degrees
        {"45.", 45, 0},
        {"-120.123456789", 120, 7},   // read from the first 10 characters
        {"45.5.1", 45, -1},
        {"45.5x", 45, -1},
        {"abc", -1, 0},
        {"N45.5", 45, 30},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(MissionPlanImport::GetDegrees(QLatin1String(c.text)), c.degrees) << c.text;
        EXPECT_EQ(MissionPlanImport::GetMinutes(QLatin1String(c.text)), c.minutes) << c.text;
    }
    EXPECT_EQ(Notice::count(), 0);

    // A fraction that lies beyond the text's first 10 characters.
    EXPECT_EQ(MissionPlanImport::GetMinutes(QStringLiteral("0000000045.5")), -1);
    ASSERT_EQ(Notice::count(), 1);
    EXPECT_EQ(Notice::last().kind, Notice::Kind::Critical);
    EXPECT_EQ(Notice::last().title, QStringLiteral("Get Min"));
    EXPECT_EQ(Notice::last().text, QStringLiteral("error trying to get the minutes from  xml for the mission box  will "
                                                  "need to enter it manually"));
}

TEST_F(MissionPlanImportTest, NamesLoseTheirFirstTagAndBlanks)
{
    EXPECT_EQ(MissionPlanImport::MissionName(QStringLiteral("Ridge Fire #1")), QStringLiteral("Ridge_Fire"));
    EXPECT_EQ(MissionPlanImport::MissionName(QStringLiteral("  Big  Bend #1 East #1\n")), QStringLiteral("Big__Bend_East"));
    EXPECT_EQ(MissionPlanImport::MissionName(QStringLiteral("Lone")), QStringLiteral("Lone"));
}

// -------------------------------------------------------------- requests

TEST_F(MissionPlanImportTest, OneRequestStoresEveryKey)
{
    QSettings().setValue(QStringLiteral("LastUsed/techName"), QStringLiteral("Robin"));
    QSettings().setValue(QStringLiteral("LastUsed/tailNumber"), QStringLiteral("N321"));
    const QString path = writeFile(QStringLiteral("plan.xml"),
                                   plan(request("Ridge Fire #1", "45.5", "45.25", "-120.75", "-121.1")));
    MissionPlanImport::Summary sum;
    ASSERT_EQ(MissionPlanImport::ImportFile(path, &sum), 0);
    EXPECT_EQ(sum.stored, 1);
    EXPECT_EQ(sum.failed, 0);
    ASSERT_EQ(Notice::count(), 1);
    EXPECT_EQ(Notice::last().kind, Notice::Kind::Information);
    EXPECT_EQ(Notice::last().title, QStringLiteral("Mission Parse"));
    EXPECT_EQ(Notice::last().text, QStringLiteral("Added 1 mission to the registry; 0 failures"));

    ASSERT_EQ(MissionStore::Count(), 1);
    const MissionRecord m = MissionStore::Read(0);
    EXPECT_EQ(m.name, QStringLiteral("Ridge_Fire"));
    EXPECT_EQ(m.pNumber, QStringLiteral("P-Ridge Fire #1"));
    EXPECT_EQ(m.northDeg, 45);
    EXPECT_EQ(m.northMin, 30);
    EXPECT_EQ(m.northNs, 0);
    EXPECT_FLOAT_EQ(m.northVal, 45.5f);
    EXPECT_EQ(m.southDeg, 45);
    EXPECT_EQ(m.southMin, 15);
    EXPECT_FLOAT_EQ(m.southVal, 45.25f);
    EXPECT_EQ(m.eastDeg, 120);
    EXPECT_EQ(m.eastMin, 45);
    EXPECT_EQ(m.eastEw, 0);
    EXPECT_FLOAT_EQ(m.eastVal, -120.75f);
    EXPECT_EQ(m.westDeg, 121);
    EXPECT_EQ(m.westMin, 6);
    EXPECT_EQ(m.westEw, 0);
    EXPECT_FLOAT_EQ(m.westVal, -121.1f);
    EXPECT_EQ(m.logPath, QStringLiteral("C:\\CindrelData"));
    EXPECT_EQ(m.irTech, QStringLiteral("Robin"));
    EXPECT_EQ(m.tailNum, QStringLiteral("N321"));
    EXPECT_EQ(m.avgGndElev, 0);   // the plan gives none: none is made up
    EXPECT_EQ(m.chgBox, 0);
    EXPECT_EQ(m.makeVrml, 0);
    EXPECT_EQ(m.showBox, 1);
}

TEST_F(MissionPlanImportTest, EdgeTextsInOtherFormsAndHemispheres)
{
    QSettings().setValue(QStringLiteral("LastUsed/logPath"), QStringLiteral("D:\\Flights"));
    const QString path = writeFile(
        QStringLiteral("odd.xml"),
        plan(request("Carry", "45.999", "45.0", "-120.5", "-121") +
             // Pretty-printed values with surrounding whitespace.
             "<request>\n  <name>\n    Spaced Out\n  </name>\n  <north>\n    44.5\n  </north>\n"
             "  <south> 44.25 </south>\n  <east>\t-119.5\t</east>\n  <west>-119.75\n</west>\n</request>\n" +
             // Southern and eastern hemispheres, an exponent.
             request("Down Under", "-10.5", "-20.25", "1.505e2", "140.75") +
             // Leading zeros push the "." past the first 10 characters.
             request("Zeros", "0000000045.5", "45.25", "-120.75", "-0000000121.1")));
    MissionPlanImport::Summary sum;
    ASSERT_EQ(MissionPlanImport::ImportFile(path, &sum), 0);
    EXPECT_EQ(sum.stored, 4);
    EXPECT_EQ(sum.failed, 0);

    const MissionRecord carry = MissionStore::Read(0);
    EXPECT_EQ(carry.northDeg, 46);
    EXPECT_EQ(carry.northMin, 0);
    EXPECT_FLOAT_EQ(carry.northVal, 45.999f);
    EXPECT_EQ(carry.westDeg, 121);
    EXPECT_EQ(carry.westMin, 0);
    EXPECT_EQ(carry.logPath, QStringLiteral("D:\\Flights"));
    // Defaults of the technician and the tail number when none was set.
    EXPECT_EQ(carry.irTech, MissionPlanImport::kDefaultTech);
    EXPECT_EQ(carry.tailNum, MissionPlanImport::kDefaultTail);
    EXPECT_FALSE(carry.irTech.isEmpty());

    const MissionRecord spaced = MissionStore::Read(1);
    EXPECT_EQ(spaced.name, QStringLiteral("Spaced_Out"));
    EXPECT_TRUE(spaced.pNumber.isEmpty());
    EXPECT_EQ(spaced.northMin, 30);
    EXPECT_EQ(spaced.southMin, 15);
    EXPECT_EQ(spaced.eastMin, 30);
    EXPECT_EQ(spaced.westMin, 45);
    EXPECT_FLOAT_EQ(spaced.westVal, -119.75f);

    const MissionRecord down = MissionStore::Read(2);
    EXPECT_EQ(down.northDeg, 10);
    EXPECT_EQ(down.northMin, 30);
    EXPECT_EQ(down.northNs, 1);
    EXPECT_EQ(down.southNs, 1);
    EXPECT_EQ(down.eastDeg, 150);
    EXPECT_EQ(down.eastMin, 30);
    EXPECT_EQ(down.eastEw, 1);
    EXPECT_EQ(down.westDeg, 140);
    EXPECT_EQ(down.westMin, 45);
    EXPECT_EQ(down.westEw, 1);
    EXPECT_FLOAT_EQ(down.eastVal, 150.5f);

    const MissionRecord zeros = MissionStore::Read(3);
    EXPECT_EQ(zeros.northDeg, 45);
    EXPECT_EQ(zeros.northMin, 30);
    EXPECT_EQ(zeros.westDeg, 121);
    EXPECT_EQ(zeros.westMin, 6);
    EXPECT_EQ(zeros.westEw, 0);
    EXPECT_EQ(Notice::count(), 1);   // the summary only
}

TEST_F(MissionPlanImportTest, ReversedEdgesAreExchangedWithTheirValues)
{
    // North and south given the wrong way round, likewise east and west.
    const QString path =
        writeFile(QStringLiteral("rev.xml"), plan(request("Flip", "45.25", "45.5", "-121.1", "-120.75")));
    ASSERT_EQ(MissionPlanImport::ImportFile(path), 0);
    const MissionRecord m = MissionStore::Read(0);
    EXPECT_EQ(m.northDeg, 45);
    EXPECT_EQ(m.northMin, 30);
    EXPECT_EQ(m.southMin, 15);
    EXPECT_EQ(m.eastMin, 45);
    EXPECT_EQ(m.westMin, 6);
    // The decimal values the map draws go with their edges.
    EXPECT_FLOAT_EQ(m.northVal, 45.5f);
    EXPECT_FLOAT_EQ(m.southVal, 45.25f);
    EXPECT_FLOAT_EQ(m.eastVal, -120.75f);
    EXPECT_FLOAT_EQ(m.westVal, -121.1f);
}

TEST_F(MissionPlanImportTest, RefusedRequestsAreCountedAndSkipped)
{
    storeMissions(3);
    MissionStore::SetSelectedIndex(2);
    const QString path = writeFile(
        QStringLiteral("bad.xml"),
        plan("<request><p-number>P1</p-number><north>45.5</north><south>45.25</south>"
             "<east>-120.75</east><west>-121.1</west></request>\n"              // no name
             + request("Near Zero", "0.5", "0.25", "-120.75", "-121.1")          // 0 north degrees
             + request("", "45.5", "45.25", "-120.75", "-121.1")                 // empty name
             + request("Words", "north", "45.25", "-120.75", "-121.1")           // not a number
             + request("Too Far", "95.5", "45.25", "-120.75", "-121.1")          // not a latitude
             + "<request><name>No Edges</name></request>\n"
             + request("Good", "46.5", "46.25", "-118.75", "-119.1")));
    MissionPlanImport::Summary sum;
    ASSERT_EQ(MissionPlanImport::ImportFile(path, &sum), 0);
    EXPECT_EQ(sum.stored, 1);
    EXPECT_EQ(sum.failed, 6);

    const QList<Notice::Record> parse = titled(QStringLiteral("Mission Parse"));
    ASSERT_EQ(parse.size(), 7);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(parse[i].kind, Notice::Kind::Critical) << i;
    // Each refusal names the request, the edge text refused and why.
    EXPECT_EQ(parse[1].text, QStringLiteral("can't write this mission to the registry required data missing, ie "
                                            "mission name Near_Zero, box coords 0 120 0 121, enter it by hand "
                                            "(north edge \"0.5\" has 0 whole degrees; south edge \"0.25\" has 0 "
                                            "whole degrees)"));
    const struct {
        int index;
        const char *why;
    } refusals[] = {{0, "(no mission name)"},
                    {2, "(no mission name)"},
                    {3, "(north edge \"north\" is not a decimal number of degrees)"},
                    {4, "(north edge \"95.5\" lies outside -90..90)"},
                    {5, "(north edge missing; south edge missing; east edge missing; west edge missing)"}};
    for (const auto &r : refusals)
        EXPECT_TRUE(parse[r.index].text.endsWith(QLatin1String(r.why))) << parse[r.index].text.toStdString();
    EXPECT_TRUE(parse[4].text.contains(QStringLiteral("Too_Far")));
    EXPECT_EQ(parse[6].kind, Notice::Kind::Information);
    EXPECT_EQ(parse[6].text, QStringLiteral("Added 1 mission to the registry; 6 failures"));

    ASSERT_EQ(MissionStore::Count(), 1);
    EXPECT_EQ(MissionStore::Read(0).name, QStringLiteral("Good"));
    // The selection of the longer list now names the one mission left.
    EXPECT_EQ(MissionStore::SelectedIndex(), 0);
}

TEST_F(MissionPlanImportTest, AnImportReplacesTheListOrLeavesItAlone)
{
    storeMissions(5);
    // Only refused requests: the old list stays.
    const QString none = writeFile(QStringLiteral("none.xml"), plan(request("Zero", "0.5", "0.25", "-1.5", "-2.5")));
    ASSERT_EQ(MissionPlanImport::ImportFile(none), 0);
    ASSERT_EQ(MissionStore::Count(), 5);
    EXPECT_EQ(MissionStore::Read(4).name, QStringLiteral("Old 4"));

    // Two good requests among elements that are not requests.
    const QString two = writeFile(
        QStringLiteral("two.xml"),
        plan("<note>ignored</note>\n" + request("One", "45.5", "45.25", "-120.75", "-121.1", "<remark>x</remark>")
             + "<header><request><name>Nested</name></request></header>\n"
             + request("Two", "44.5", "44.25", "-119.75", "-120.1")));
    Notice::clearRecords();
    MissionPlanImport::Summary sum;
    ASSERT_EQ(MissionPlanImport::ImportFile(two, &sum), 0);
    EXPECT_EQ(sum.stored, 2);
    EXPECT_EQ(sum.failed, 0);
    EXPECT_EQ(Notice::last().text, QStringLiteral("Added 2 mission to the registry; 0 failures"));
    ASSERT_EQ(MissionStore::Count(), 2);
    EXPECT_EQ(MissionStore::Read(0).name, QStringLiteral("One"));
    EXPECT_EQ(MissionStore::Read(1).name, QStringLiteral("Two"));
    // No entry of the old list lingers in the file.
    QSettings s;
    EXPECT_FALSE(s.contains(QStringLiteral("MsnList/3/Msn_Name")));
    EXPECT_FALSE(s.contains(QStringLiteral("MsnList/5/North_Deg")));
}

TEST_F(MissionPlanImportTest, UnreadablePlansStoreNothingAndSaySo)
{
    storeMissions(2);
    const struct {
        const char *file;
        QByteArray content;
        const char *says;
    } cases[] = {
        {"broken.xml", plan(request("A", "45.5", "45.25", "-120.75", "-121.1")).replace("</request>", "</reqest>"),
         "not well-formed"},
        {"truncated.xml", "<request-information><request><name>A</name>", "not well-formed"},
        {"empty.xml", "", "not well-formed"},
        {"wrongroot.xml", "<requests>" + request("A", "45.5", "45.25", "-120.75", "-121.1") + "</requests>",
         "request-information"},
    };
    for (const auto &c : cases) {
        Notice::clearRecords();
        const QString path = writeFile(QLatin1String(c.file), c.content);
        MissionPlanImport::Summary sum;
        EXPECT_EQ(MissionPlanImport::ImportFile(path, &sum), -1) << c.file;
        ASSERT_EQ(Notice::count(), 1) << c.file;
        EXPECT_EQ(Notice::last().kind, Notice::Kind::Critical);
        EXPECT_EQ(Notice::last().title, QStringLiteral("Mission Parse"));
        EXPECT_TRUE(Notice::last().text.contains(QLatin1String(c.says))) << Notice::last().text.toStdString();
        EXPECT_TRUE(sum.error.contains(QLatin1String(c.file))) << c.file;
        EXPECT_EQ(MissionStore::Count(), 2) << c.file;
        EXPECT_EQ(MissionStore::Read(1).name, QStringLiteral("Old 1"));
    }
    Notice::clearRecords();
    EXPECT_EQ(MissionPlanImport::ImportFile(QDir::current().absoluteFilePath(QStringLiteral("absent.xml"))), -1);
    EXPECT_TRUE(Notice::last().text.contains(QStringLiteral("cannot be opened")));
    EXPECT_EQ(MissionPlanImport::ImportFile(QDir::currentPath()), -1);   // a folder
    EXPECT_EQ(MissionStore::Count(), 2);
}

TEST_F(MissionPlanImportTest, RequestElementOnItsOwn)
{
    QDomDocument doc;
    ASSERT_TRUE(doc.setContent(request("Solo", "45.5", "45.25", "-120.75", "-121.1")));
    storeMissions(4);
    EXPECT_EQ(MissionPlanImport::ImportMissionRequest(doc.documentElement(), QStringLiteral("N1"),
                                                      QStringLiteral("Ann"), QStringLiteral("E:\\L"), 2),
              0);
    // Written at its index; the list grows only as far as that index needs.
    EXPECT_EQ(MissionStore::Count(), 4);
    EXPECT_EQ(MissionStore::Read(2).name, QStringLiteral("Solo"));
    EXPECT_EQ(MissionStore::Read(2).tailNum, QStringLiteral("N1"));
    EXPECT_EQ(MissionStore::Read(2).irTech, QStringLiteral("Ann"));
    EXPECT_EQ(MissionStore::Read(2).logPath, QStringLiteral("E:\\L"));
    EXPECT_EQ(MissionStore::Read(3).name, QStringLiteral("Old 3"));

    ASSERT_TRUE(doc.setContent(request("Solo", "45.5", "45.25", "-120.75", "0.1")));
    EXPECT_EQ(MissionPlanImport::ImportMissionRequest(doc.documentElement(), {}, {}, {}, 0), -1);
    EXPECT_EQ(MissionStore::Count(), 4);
}

// ---------------------------------------------------------------- command

TEST_F(MissionPlanImportTest, CommandReadsTheConfiguredPlanOrAsks)
{
    // The default plan on the "C:" drive is used without asking.
    const QString defaultPlan = cindrel::mapCDrivePath(QStringLiteral("C:\\CindrelData\\flightdata.xml"));
    QDir().mkpath(QFileInfo(defaultPlan).path());
    {
        QFile f(defaultPlan);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(plan(request("Default", "45.5", "45.25", "-120.75", "-121.1")));
    }
    EXPECT_EQ(MissionPlanImport::ImportMissionPlan(), 0);
    EXPECT_EQ(MissionStore::Read(0).name, QStringLiteral("Default"));
    EXPECT_EQ(titled(QStringLiteral("Open Missions XML")).size(), 0);

    // A configured plan that does not exist: the operator is asked.
    QSettings().setValue(QStringLiteral("LastUsed/MsnPlanXml"), QStringLiteral("C:\\Plans\\missing.xml"));
    Notice::clearRecords();
    EXPECT_EQ(MissionPlanImport::ImportMissionPlan(), -1);   // cancelled
    ASSERT_EQ(Notice::count(), 1);
    EXPECT_EQ(Notice::last().kind, Notice::Kind::OpenFile);
    EXPECT_EQ(Notice::last().title, QStringLiteral("Open Missions XML"));
    EXPECT_EQ(Notice::last().text, cindrel::mapCDrivePath(QStringLiteral("C:\\")));
    EXPECT_EQ(MissionStore::Read(0).name, QStringLiteral("Default"));

    const QString chosen = writeFile(QStringLiteral("chosen.xml"),
                                     plan(request("Chosen", "45.5", "45.25", "-120.75", "-121.1")));
    Notice::pushTextReply(chosen);
    MissionPlanImport::Summary sum;
    EXPECT_EQ(MissionPlanImport::ImportMissionPlan(&sum), 0);
    EXPECT_EQ(sum.stored, 1);
    EXPECT_EQ(MissionStore::Read(0).name, QStringLiteral("Chosen"));
    // The choice is not remembered.
    EXPECT_EQ(QSettings().value(QStringLiteral("LastUsed/MsnPlanXml")).toString(), QStringLiteral("C:\\Plans\\missing.xml"));
}

} // namespace
