// cindrel import-missions as a user runs it: a plan replaces the mission
// list of the settings the program reads; refusals and unreadable files
// are reported with their exit statuses; --dry-run changes nothing.
#include "common/testsupport.h"

#include <QDir>
#include <QFile>
#include <QSettings>

#include <gtest/gtest.h>

using testsupport::run;

namespace {

QString writePlan(const QString &name, const QByteArray &body)
{
    const QString path = QDir::current().absoluteFilePath(name);
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("<request-information>\n" + body + "</request-information>\n");
    return path;
}

QByteArray request(const QByteArray &name, const QByteArray &north, const QByteArray &south, const QByteArray &east,
                   const QByteArray &west)
{
    return "<request><name>" + name + "</name><north>" + north + "</north><south>" + south + "</south><east>" + east
           + "</east><west>" + west + "</west></request>\n";
}

int storedCount()
{
    QSettings s;
    s.sync();   // written by the tool's process
    const int n = s.beginReadArray(QStringLiteral("MsnList"));
    s.endArray();
    return n;
}

QString storedName(int i)
{
    QSettings s;
    s.sync();
    s.beginReadArray(QStringLiteral("MsnList"));
    s.setArrayIndex(i);
    const QString name = s.value(QStringLiteral("Msn_Name")).toString();
    s.endArray();
    return name;
}

TEST(ImportMissionsTool, PlanReplacesTheListAndRefusalsAreReported)
{
    {
        QSettings s;
        s.remove(QStringLiteral("MsnList"));
        s.beginWriteArray(QStringLiteral("MsnList"), 3);
        for (int i = 0; i < 3; ++i) {
            s.setArrayIndex(i);
            s.setValue(QStringLiteral("Msn_Name"), QStringLiteral("Old %1").arg(i));
        }
        s.endArray();
        s.sync();
    }
    const QString tool = testsupport::toolPath();

    // A dry run lists the missions and leaves the list alone.
    const QString good = writePlan(QStringLiteral("tool-plan.xml"),
                                   request("Ridge Fire #1", "45.5", "45.25", "-120.75", "-121.1")
                                       + request("Creek", "44.5", "44.25", "-119.75", "-120.1")
                                       + request("Nowhere", "0.5", "0.25", "-1", "-2"));
    auto r = run(tool, {QStringLiteral("import-missions"), good, QStringLiteral("--dry-run")});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("Ridge_Fire"))) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("would add 2 mission(s), 1 refused")));
    EXPECT_TRUE(r.err.contains(QStringLiteral("Nowhere")));
    EXPECT_EQ(storedCount(), 3);

    r = run(tool, {QStringLiteral("import-missions"), good});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("added 2 mission(s), 1 refused"))) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("45 30' N"))) << r.out.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("Mission Parse: can't write this mission"))) << r.err.toStdString();
    ASSERT_EQ(storedCount(), 2);
    EXPECT_EQ(storedName(0), QStringLiteral("Ridge_Fire"));
    EXPECT_EQ(storedName(1), QStringLiteral("Creek"));

    // Nothing usable: status 1, list kept.
    const QString bad = writePlan(QStringLiteral("tool-bad.xml"), request("", "45.5", "45.25", "-120.75", "-121.1"));
    r = run(tool, {QStringLiteral("import-missions"), bad});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(storedCount(), 2);

    // Not XML at all.
    const QString junk = QDir::current().absoluteFilePath(QStringLiteral("tool-junk.xml"));
    {
        QFile f(junk);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("this is not <xml");
    }
    r = run(tool, {QStringLiteral("import-missions"), junk});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("not well-formed"))) << r.err.toStdString();
    r = run(tool, {QStringLiteral("import-missions"), QStringLiteral("no-such-plan.xml")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("cannot be opened"))) << r.err.toStdString();
    EXPECT_EQ(storedCount(), 2);

    r = run(tool, {QStringLiteral("import-missions")});
    EXPECT_EQ(r.exitCode, 2);
}

} // namespace
