// Flight log files: writing and reading back, the three record layouts
// built byte by byte, version detection, replay through the ring, the range
// filter, rewinding, names, opening by dialog and every error box.
#include "datasource/ccindreldsplog.h"
#include "datasource/coldcurve.h"

#include "platform/notice.h"
#include "platform/paths.h"
#include "tests/common/testsupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include <cstring>
#include <memory>
#include <random>
#include <vector>

namespace {

// A line with sane navigation and recognisable contents.
std::unique_ptr<ScanLineRec> makeLine(std::uint32_t index, std::uint32_t seed = 1)
{
    auto r = std::make_unique<ScanLineRec>();
    r->clear();
    std::mt19937 rng(seed * 7919u + index);
    auto *bytes = reinterpret_cast<unsigned char *>(r.get());
    for (int i = 0; i < 144; ++i)
        bytes[i] = static_cast<unsigned char>(rng());
    r->lineIndex = index;
    r->chnBGain = 2.5f;
    r->chnBOffset = 1234;
    r->vhInterval = 1;
    r->vhOverrideOn = 0;
    r->fireThreshold = 300;
    r->latitude = std::int32_t(45.5 * 3600 * 1000);
    r->longitude = std::int32_t(-120.25 * 3600 * 1000);
    r->altitude = 250000;
    r->pitch = -150;
    r->roll = 275;
    r->speed = 6000;
    r->heading = 35999;
    r->track = 18000;
    r->scanPeriod = 1000;
    for (int i = 0; i < SAMPLES_PER_LINE; ++i) {
        r->chanA[i] = int(rng() % 60000) - 30000;
        r->chanB[i] = int(rng() % 2000) - 1000;
        r->pix[i] = std::uint8_t(rng() % 255);
    }
    r->chanA[0] = -32768;
    r->chanA[1] = 32767;
    r->chanB[SAMPLES_PER_LINE - 1] = -32768;
    for (int i = 0; i < 12; ++i)
        r->pixExtra[i] = std::uint8_t(0xA0 + i);
    r->pendingLines = 77;            // not stored in a log
    r->reserved15276[3] = 9;         // not stored in a log
    return r;
}

void putI16(std::vector<char> &out, std::int32_t v)
{
    const auto u = std::uint16_t(std::uint32_t(v));
    out.push_back(char(u & 0xFF));
    out.push_back(char(u >> 8));
}

// One record of the given version, laid out by hand.
std::vector<char> encode(const ScanLineRec &r, int version)
{
    std::vector<char> out;
    const auto *bytes = reinterpret_cast<const char *>(&r);
    if (version == 3) {
        out.insert(out.end(), bytes, bytes + 72);
        out.insert(out.end(), bytes + 88, bytes + 144);
    } else {
        out.insert(out.end(), bytes, bytes + 144);
    }
    for (int i = 0; i < SAMPLES_PER_LINE; ++i)
        putI16(out, r.chanA[i]);
    for (int i = 0; i < SAMPLES_PER_LINE; ++i)
        putI16(out, r.chanB[i]);
    out.insert(out.end(), reinterpret_cast<const char *>(r.pix), reinterpret_cast<const char *>(r.pix) + SAMPLES_PER_LINE);
    const int extra = version == 2 ? 4 : 12;
    out.insert(out.end(), reinterpret_cast<const char *>(r.pixExtra), reinterpret_cast<const char *>(r.pixExtra) + extra);
    for (int i = 0; i < 4; ++i)
        out.push_back(char(0x5A));   // trailing bytes are ignored on reading
    return out;
}

void expectSameStoredContents(const ScanLineRec &got, const ScanLineRec &want, int version, const char *what)
{
    const auto *g = reinterpret_cast<const unsigned char *>(&got);
    const auto *w = reinterpret_cast<const unsigned char *>(&want);
    if (version == 3) {
        EXPECT_EQ(std::memcmp(g, w, 72), 0) << what;
        for (int i = 72; i < 88; ++i)
            EXPECT_EQ(g[i], 0) << what << " byte " << i;
        EXPECT_EQ(std::memcmp(g + 88, w + 88, 144 - 88), 0) << what;
    } else {
        EXPECT_EQ(std::memcmp(g, w, 144), 0) << what;
    }
    for (int i = 0; i < SAMPLES_PER_LINE; ++i) {
        ASSERT_EQ(got.chanA[i], std::int16_t(want.chanA[i])) << what << " A" << i;
        ASSERT_EQ(got.chanB[i], std::int16_t(want.chanB[i])) << what << " B" << i;
    }
    EXPECT_EQ(std::memcmp(got.pix, want.pix, SAMPLES_PER_LINE), 0) << what;
    const int extra = version == 2 ? 4 : 12;
    EXPECT_EQ(std::memcmp(got.pixExtra, want.pixExtra, std::size_t(extra)), 0) << what;
    for (int i = extra; i < 12; ++i)
        EXPECT_EQ(got.pixExtra[i], 0) << what;
    for (unsigned char b : got.reserved15276)
        EXPECT_EQ(b, 0) << what;
    EXPECT_EQ(got.pendingLines, 0u) << what;
    for (unsigned char b : got.reserved15308)
        EXPECT_EQ(b, 0) << what;
}

struct LogFile : ::testing::Test {
    std::unique_ptr<ColdCurve> curve = std::make_unique<ColdCurve>();
    QString dir;

    void SetUp() override
    {
        curve->resetStartValues();
        const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir = testsupport::workDir() + QStringLiteral("/log_") + QString::fromLatin1(info->name());
        QDir(dir).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(dir));
        Notice::clearRecords();
        Notice::clearReplies();
    }

    QString path(const QString &name) const { return dir + QLatin1Char('/') + name; }

    void writeBytes(const QString &name, const std::vector<char> &bytes)
    {
        QFile f(path(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(f.write(bytes.data(), qint64(bytes.size())), qint64(bytes.size()));
    }

    void writeRecords(const QString &name, const std::vector<std::uint32_t> &indexes, int version = 1)
    {
        std::vector<char> all;
        for (std::uint32_t idx : indexes) {
            const auto rec = encode(*makeLine(idx), version);
            all.insert(all.end(), rec.begin(), rec.end());
        }
        writeBytes(name, all);
    }

    // Line indexes delivered by replaying to the end.
    std::vector<std::uint32_t> replay(CCindrelDspLog &log, bool fireTest = false, int maxCycles = 100)
    {
        std::vector<std::uint32_t> seen;
        auto out = std::make_unique<ScanLineRec>();
        if (log.GetNumNewImageLines() == 1) {
            log.GetPriorImageLine(0, out.get());
            seen.push_back(out->lineIndex);
        }
        for (int i = 0; i < maxCycles; ++i) {
            const bool end = log.DoNextFwdCycle(0, false, fireTest);
            if (end) {
                EXPECT_EQ(log.GetNumNewImageLines(), 0u);
                break;
            }
            EXPECT_EQ(log.GetNumNewImageLines(), 1u);
            log.GetPriorImageLine(0, out.get());
            seen.push_back(out->lineIndex);
        }
        return seen;
    }
};

} // namespace

TEST_F(LogFile, WrittenRecordsReadBackAsVersion1)
{
    std::vector<std::unique_ptr<ScanLineRec>> lines;
    for (std::uint32_t i = 0; i < 3; ++i)
        lines.push_back(makeLine(10 + i));
    lines[2]->chanA[5] = 40000;   // outside 16 bits: the low 16 bits are kept

    {
        CCindrelDspLog writer(curve.get());
        ASSERT_TRUE(writer.OpenForWrite(path("w.plf")));
        EXPECT_EQ(writer.GetFileName(), path("w.plf"));
        for (const auto &l : lines)
            ASSERT_TRUE(writer.WriteRecord(*l));
        EXPECT_TRUE(writer.Close());
        EXPECT_FALSE(writer.WriteRecord(*lines[0]));   // closed: refused
    }
    EXPECT_EQ(QFileInfo(path("w.plf")).size(), 3 * 8560);

    // The bytes on disk: little-endian samples after the 144-byte header,
    // four zero bytes at the end of each record.
    QFile raw(path("w.plf"));
    ASSERT_TRUE(raw.open(QIODevice::ReadOnly));
    const QByteArray bytes = raw.readAll();
    EXPECT_EQ(std::uint8_t(bytes[144]), 0x00);   // chanA[0] = -32768 = 0x8000
    EXPECT_EQ(std::uint8_t(bytes[145]), 0x80);
    EXPECT_EQ(bytes.mid(8556, 4), QByteArray(4, '\0'));
    EXPECT_EQ(bytes.mid(6864 + 1680, 12), QByteArray(reinterpret_cast<const char *>(lines[0]->pixExtra), 12));

    CCindrelDspLog reader(curve.get());
    reader.OnFileOpen(path("w.plf"));
    EXPECT_TRUE(reader.isOpen);
    EXPECT_EQ(reader.GetFileVersion(), 1);
    EXPECT_EQ(Notice::count(), 0);
    expectSameStoredContents(reader.CurrentRecord(), *lines[0], 1, "record 0");
    for (int i = 1; i < 3; ++i) {
        auto got = std::make_unique<ScanLineRec>();
        ASSERT_TRUE(reader.GetNextLine(got.get()));
        expectSameStoredContents(*got, *lines[std::size_t(i)], 1, "record");
    }
    EXPECT_EQ(reader.CurrentRecord().chanA[5], 40000 - 65536);
    EXPECT_FALSE(reader.GetNextLine(nullptr));
}

TEST_F(LogFile, OlderLayoutsBuiltByteByByte)
{
    for (int version : {2, 3}) {
        SCOPED_TRACE(version);
        std::vector<char> all;
        std::vector<std::unique_ptr<ScanLineRec>> lines;
        for (std::uint32_t i = 0; i < 5; ++i) {
            lines.push_back(makeLine(100 + i, std::uint32_t(version)));
            std::memset(lines.back()->reserved40 + 32, 0xEE, 16);   // bytes 72..87
            const auto rec = encode(*lines.back(), version);
            ASSERT_EQ(qint64(rec.size()), CCindrelDspLog::RecordSize(version));
            all.insert(all.end(), rec.begin(), rec.end());
        }
        const QString name = QStringLiteral("v%1.log").arg(version);
        writeBytes(name, all);

        CCindrelDspLog log(curve.get());
        log.OnFileOpen(path(name));
        ASSERT_EQ(log.GetFileVersion(), version);
        expectSameStoredContents(log.CurrentRecord(), *lines[0], version, "first");
        for (std::size_t i = 1; i < lines.size(); ++i) {
            ASSERT_FALSE(log.DoNextFwdCycle(0, false, false));
            expectSameStoredContents(log.CurrentRecord(), *lines[i], version, "next");
            auto viaRing = std::make_unique<ScanLineRec>();
            log.GetPriorImageLine(0, viaRing.get());
            EXPECT_EQ(viaRing->lineIndex, 100 + i);
            EXPECT_EQ(std::memcmp(viaRing->chanB, log.CurrentRecord().chanB, sizeof viaRing->chanB), 0);
        }
        EXPECT_TRUE(log.DoNextFwdCycle(0, false, false));
        EXPECT_EQ(log.GetRecordsRead(), 5u);
        EXPECT_EQ(Notice::count(), 0);
    }
}

TEST_F(LogFile, VersionDetectionBySize)
{
    EXPECT_EQ(CCindrelDspLog::VersionForSize(0), 1);
    EXPECT_EQ(CCindrelDspLog::VersionForSize(9150640), 1);   // 1069 x 8560 = 1070 x 8552
    EXPECT_EQ(CCindrelDspLog::VersionForSize(8552 * 7), 2);
    EXPECT_EQ(CCindrelDspLog::VersionForSize(8544 * 5), 3);
    EXPECT_EQ(CCindrelDspLog::VersionForSize(8560 * 3 + 100), 1);
    EXPECT_EQ(CCindrelDspLog::VersionForSize(8544 * 2 + 1), 1);

    // A size both layouts fit: the one whose records make sense wins, in
    // either direction.
    for (int version : {2, 1}) {
        std::vector<char> log;
        const std::uint32_t count = version == 2 ? 1070 : 1069;
        for (std::uint32_t i = 0; i < count; ++i) {
            const auto rec = encode(*makeLine(i + 1), version);
            log.insert(log.end(), rec.begin(), rec.end());
        }
        ASSERT_EQ(log.size(), 9150640u);
        writeBytes("ambiguous.plf", log);
        CCindrelDspLog amb(curve.get());
        amb.OnFileOpen(path("ambiguous.plf"));
        EXPECT_EQ(amb.GetFileVersion(), version);
        EXPECT_EQ(replay(amb, false, 2000).size(), count);
    }

    // An empty file: version 1, no line, the first cycle ends the replay.
    writeBytes("empty.plf", {});
    CCindrelDspLog empty(curve.get());
    empty.OnFileOpen(path("empty.plf"));
    EXPECT_TRUE(empty.isOpen);
    EXPECT_EQ(empty.GetFileVersion(), 1);
    EXPECT_EQ(empty.GetNumNewImageLines(), 0u);
    EXPECT_TRUE(empty.DoNextFwdCycle(0, false, true));
    EXPECT_EQ(empty.GetNumNewImageLines(), 0u);

    // Three records and a partial fourth: three lines, no box.
    std::vector<char> all;
    for (std::uint32_t i = 0; i < 3; ++i) {
        const auto rec = encode(*makeLine(i + 1), 1);
        all.insert(all.end(), rec.begin(), rec.end());
    }
    const auto partial = encode(*makeLine(99), 1);
    all.insert(all.end(), partial.begin(), partial.begin() + 100);
    writeBytes("partial.plf", all);
    CCindrelDspLog log(curve.get());
    log.OnFileOpen(path("partial.plf"));
    EXPECT_EQ(replay(log), (std::vector<std::uint32_t>{1, 2, 3}));
    EXPECT_TRUE(log.DoNextFwdCycle(0, false, true));   // stays at the end
    EXPECT_EQ(Notice::count(), 0);
}

TEST_F(LogFile, DamagedAndForeignFilesAreReadSafely)
{
    // Random bytes of many sizes: whatever the version guess, the reader
    // stops at the last whole record and shows nothing.
    std::mt19937 rng(42);
    for (qint64 size : {qint64(1), qint64(143), qint64(8543), qint64(8544 * 2), qint64(8552 * 3),
                        qint64(8560 * 2 + 8559), qint64(50001)}) {
        std::vector<char> bytes(static_cast<std::size_t>(size));
        for (char &b : bytes)
            b = char(rng());
        writeBytes("junk.bin", bytes);
        CCindrelDspLog log(curve.get());
        log.OnFileOpen(path("junk.bin"));
        for (int i = 0; i < 20 && !log.DoNextFwdCycle(0, false, true); ++i) {
        }
        const qint64 whole = size / CCindrelDspLog::RecordSize(log.GetFileVersion());
        EXPECT_EQ(qint64(log.GetRecordsRead()), whole) << size;
        EXPECT_EQ(Notice::count(), 0) << size;
    }
}

TEST_F(LogFile, RangeFilterEndsAtTheFirstLineBeyondIt)
{
    writeRecords("range.plf", {50, 60, 100, 150, 200, 201, 120, 180});
    CCindrelDspLog log(100, 200, curve.get());
    log.OnFileOpen(path("range.plf"));
    EXPECT_EQ(replay(log), (std::vector<std::uint32_t>{100, 150, 200}));
    EXPECT_TRUE(log.DoNextFwdCycle(0, false, false));
    EXPECT_EQ(log.GetNumNewImageLines(), 0u);

    // Rewinding starts again at the first record inside the range.
    EXPECT_TRUE(log.RewindLog());
    EXPECT_EQ(log.GetNumNewImageLines(), 1u);
    EXPECT_EQ(log.GetLineIndex(), 100u);
    EXPECT_EQ(log.GetRecordsRead(), 1u);
    EXPECT_EQ(replay(log), (std::vector<std::uint32_t>{100, 150, 200}));

    // Only a lower bound.
    CCindrelDspLog from(150, 0, curve.get());
    from.OnFileOpen(path("range.plf"));
    EXPECT_EQ(replay(from), (std::vector<std::uint32_t>{150, 200, 201, 180}));
}

TEST_F(LogFile, ReplayWithAndWithoutTheFireTest)
{
    auto line = makeLine(1);
    line->chanB[SAMPLES_PER_LINE - 1] = 31000;   // above BMax: fire at pix[0]
    line->pix[0] = 10;
    line->pix[5] = 255;                          // a stored 255 that is no fire
    std::vector<char> all = encode(*line, 1);
    line->lineIndex = 2;
    const auto second = encode(*line, 1);
    all.insert(all.end(), second.begin(), second.end());
    line->lineIndex = 3;
    const auto third = encode(*line, 1);
    all.insert(all.end(), third.begin(), third.end());
    writeBytes("fire.plf", all);

    CCindrelDspLog log(curve.get());
    log.SetFireDetectParams(false, 30000, 30001, 0.5, 0.25, 0.0);
    EXPECT_EQ(log.GetFireDetectPolyA2(), 0.5);
    EXPECT_EQ(log.GetFireDetectPolyA1(), 0.25);
    log.OnFileOpen(path("fire.plf"));   // by name: no fire test on the first line
    auto out = std::make_unique<ScanLineRec>();
    log.GetPriorImageLine(0, out.get());
    EXPECT_EQ(out->pix[0], 10);
    EXPECT_EQ(out->pix[5], 255);

    ASSERT_FALSE(log.DoNextFwdCycle(0, false, true));
    log.GetPriorImageLine(0, out.get());
    EXPECT_EQ(out->lineIndex, 2u);
    EXPECT_EQ(out->pix[0], FIRE_PIXEL);
    EXPECT_EQ(out->pix[5], 254);

    ASSERT_FALSE(log.DoNextFwdCycle(0, false, false));
    log.GetPriorImageLine(0, out.get());
    EXPECT_EQ(out->pix[0], 10);
    EXPECT_EQ(out->pix[5], 255);
}

TEST_F(LogFile, FireThresholdOverride)
{
    writeRecords("thr.plf", {1, 2, 3});
    CCindrelDspLog log(curve.get());
    log.OnFileOpen(path("thr.plf"));
    EXPECT_EQ(log.GetFireThreshold(), 300u);   // the first line's threshold
    EXPECT_EQ(log.SetFireThreshold(77), 77u);
    EXPECT_EQ(log.GetFireThreshold(), 77u);
    auto out = std::make_unique<ScanLineRec>();
    ASSERT_FALSE(log.DoNextFwdCycle(0, false, true));
    log.GetPriorImageLine(0, out.get());
    EXPECT_EQ(out->fireThreshold, 77);
    log.SetFireThreshold(0);   // removes the override
    ASSERT_FALSE(log.DoNextFwdCycle(0, false, true));
    log.GetPriorImageLine(0, out.get());
    EXPECT_EQ(out->fireThreshold, 300);
}

TEST_F(LogFile, ValuesOfTheCurrentRecord)
{
    writeRecords("vals.plf", {5, 6});
    CCindrelDspLog log(curve.get());
    log.OnFileOpen(path("vals.plf"));
    EXPECT_FLOAT_EQ(log.GetAltitude(), 2500.0f);
    EXPECT_FLOAT_EQ(log.GetPitch(), -1.5f);
    EXPECT_FLOAT_EQ(log.GetRoll(), 2.75f);
    EXPECT_FLOAT_EQ(log.GetSpeed(), 60.0f);
    EXPECT_FLOAT_EQ(log.GetHeading(), 359.99f);
    EXPECT_FLOAT_EQ(log.GetTrack(), 180.0f);
    double lat = 0, lon = 0;
    log.GetPosition(&lat, &lon);
    EXPECT_DOUBLE_EQ(lat, 45.5);
    EXPECT_DOUBLE_EQ(lon, -120.25);
    float flat = 0, flon = 0;
    log.GetPosition(&flat, &flon);
    EXPECT_NEAR(flat, 45.5f, 1e-4);
    EXPECT_FLOAT_EQ(log.GetChnBGain(), 2.5f);
    EXPECT_EQ(log.GetChnBOffset(), 1234);
    std::uint32_t interval = 0, over = 9;
    bool on = true;
    log.GetVOverH(&interval, &on, &over);
    EXPECT_EQ(interval, 1u);
    EXPECT_FALSE(on);
    EXPECT_EQ(log.GetLineIndex(), 5u);
    float ra = 0, rb = 0;
    EXPECT_EQ(log.GetScanRates(&ra, &rb), 1000u);
    EXPECT_NEAR(ra, 1.008f * 2e4f, 0.01f);
    EXPECT_NEAR(rb, 1.008f * 1e3f, 0.001f);
    std::uint32_t w = 1, n = 1, e = 1, s = 1;
    EXPECT_FALSE(log.GetBoundingAreaOfLog(&w, &n, &e, &s));
    EXPECT_EQ(w + n + e + s, 0u);
    EXPECT_EQ(Notice::count(), 0);
}

TEST_F(LogFile, StartTimeAndElevationRasterFromTheName)
{
    writeRecords("20240715_1432_Fire12_3.plf", {1});
    CCindrelDspLog log(curve.get());
    log.OnFileOpen(path("20240715_1432_Fire12_3.plf"));
    EXPECT_EQ(log.GetDateTime(), QDateTime(QDate(2024, 7, 15), QTime(14, 32, 0), Qt::LocalTime));
    EXPECT_EQ(CCindrelDspLog::ElevationFileName(log.GetFileName()), path("20240715_1432_Fire12.bil"));
    EXPECT_FALSE(log.HasElevationFile());
    writeBytes("20240715_1432_Fire12.bil", {0, 0});
    EXPECT_TRUE(log.HasElevationFile());

    EXPECT_FALSE(CCindrelDspLog::DateTimeFromFileName(path("flight.plf")).isValid());
    EXPECT_FALSE(CCindrelDspLog::DateTimeFromFileName(path("20241315_1432_x.plf")).isValid());
    EXPECT_TRUE(CCindrelDspLog::ElevationFileName(QStringLiteral("/a/b/flight.plf")).isEmpty());
    EXPECT_TRUE(CCindrelDspLog::ElevationFileName(QStringLiteral("/a/b_c/flight.plf")).isEmpty());
}

TEST_F(LogFile, OpenErrorsAndReadingBeforeOpening)
{
    CCindrelDspLog log(curve.get());
    EXPECT_TRUE(log.DoNextFwdCycle(0, false, true));
    ASSERT_EQ(Notice::count(), 1);
    EXPECT_EQ(Notice::last().title, QStringLiteral("Read Log File"));
    EXPECT_EQ(Notice::last().text,
              QStringLiteral("Programming error (CindrelDspLog::ReadLogRec) - unexpected FileVersion"));
    EXPECT_EQ(Notice::last().buttons, QMessageBox::StandardButtons(QMessageBox::Ok));

    Notice::clearRecords();
    log.OnFileOpen(path("missing.plf"));
    ASSERT_EQ(Notice::count(), 1);
    EXPECT_EQ(Notice::last().kind, Notice::Kind::Critical);
    EXPECT_EQ(Notice::last().title, QStringLiteral("Open Log File"));
    EXPECT_EQ(Notice::last().text, QStringLiteral("Error opening selected log file."));
    EXPECT_FALSE(log.isOpen);
    EXPECT_TRUE(log.GetFileName().isEmpty());
    EXPECT_FALSE(log.RewindLog());
}

TEST_F(LogFile, OpenByDialog)
{
    writeRecords("picked.plf", {7, 8});
    auto line = makeLine(7);
    CCindrelDspLog log(curve.get());

    // Cancelled: nothing happens. The dialog starts in the data folder.
    log.OnFileOpen();
    ASSERT_EQ(Notice::count(), 1);
    EXPECT_EQ(Notice::last().kind, Notice::Kind::OpenFile);
    EXPECT_EQ(Notice::last().title, QStringLiteral("Open Cindrel Log File"));
    EXPECT_EQ(Notice::last().text, cindrel::mapCDrivePath(QStringLiteral("C:\\CindrelData")));
    EXPECT_FALSE(log.isOpen);

    Notice::clearRecords();
    Notice::pushTextReply(path("picked.plf"));
    log.SetFireDetectParams(false, 30000, 0, 0, 0, 0);
    log.OnFileOpen();
    EXPECT_TRUE(log.isOpen);
    EXPECT_EQ(Notice::count(), 1);
    EXPECT_EQ(log.GetFileName(), QFileInfo(path("picked.plf")).absoluteFilePath());
    EXPECT_EQ(QSettings().value(QStringLiteral("LastUsed/logPath")).toString(), QFileInfo(dir).absoluteFilePath());
    EXPECT_EQ(log.GetLineIndex(), 7u);
    // The first line went through the fire test: the learned curve holds it.
    int sample = 0;
    while (log.CurrentRecord().chanB[sample] < 0)
        ++sample;
    const int b = log.CurrentRecord().chanB[sample];
    EXPECT_LE(curve->at(b + 32769), log.CurrentRecord().chanA[sample] + 32768);
    EXPECT_EQ(replay(log), (std::vector<std::uint32_t>{7, 8}));

    // The next dialog starts where the last log was found.
    Notice::clearRecords();
    log.OnFileOpen();
    EXPECT_EQ(Notice::last().text, QFileInfo(dir).absoluteFilePath());
}

TEST_F(LogFile, OldLogsByCreationTime)
{
    writeRecords("old.plf", {1});
    writeRecords("old2.plf", {1}, 2);
    writeRecords("new.plf", {1});
    const QDateTime before(QDate(2003, 9, 1), QTime(8, 0), Qt::LocalTime);
    for (const char *name : {"old.plf", "old2.plf"}) {
        QFile f(path(QString::fromLatin1(name)));
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        ASSERT_TRUE(f.setFileTime(before, QFileDevice::FileModificationTime));
    }
    CCindrelDspLog log(curve.get());
    log.OnFileOpen(path("old.plf"));
    EXPECT_TRUE(log.IsOldLog());
    log.OnFileOpen(path("old2.plf"));   // only version 1 logs are old logs
    EXPECT_EQ(log.GetFileVersion(), 2);
    EXPECT_FALSE(log.IsOldLog());
    log.OnFileOpen(path("new.plf"));
    EXPECT_FALSE(log.IsOldLog());
}

TEST_F(LogFile, WritesReachTheFileAtOnce)
{
    CCindrelDspLog writer(curve.get());
    EXPECT_FALSE(writer.WriteRecord(*makeLine(1)));   // nothing open
    EXPECT_FALSE(writer.OpenForWrite(path("no/such/folder/x.plf")));
    EXPECT_FALSE(writer.WriteRecord(*makeLine(1)));

    writeRecords("again.plf", {1, 2, 3, 4});
    ASSERT_TRUE(writer.OpenForWrite(path("again.plf")));   // truncates
    EXPECT_EQ(QFileInfo(path("again.plf")).size(), 0);
    for (std::uint32_t i = 1; i <= 3; ++i) {
        ASSERT_TRUE(writer.WriteRecord(*makeLine(i)));
        // Visible to another reader before any flush or close.
        QFileInfo info(path("again.plf"));
        info.refresh();
        EXPECT_EQ(info.size(), qint64(i) * 8560);
    }
    CCindrelDspLog reader(curve.get());
    reader.OnFileOpen(path("again.plf"));
    EXPECT_EQ(replay(reader), (std::vector<std::uint32_t>{1, 2, 3}));
    EXPECT_TRUE(writer.Close());
    EXPECT_TRUE(writer.Close());
}

#ifdef Q_OS_LINUX
#include <csignal>
#include <sys/resource.h>

TEST_F(LogFile, ShortWriteIsCutBackToWholeRecords)
{
    // A file size limit stands in for a full disk: the third record can
    // only be written in part.
    CCindrelDspLog writer(curve.get());
    ASSERT_TRUE(writer.OpenForWrite(path("full.plf")));
    ASSERT_TRUE(writer.WriteRecord(*makeLine(1)));
    ASSERT_TRUE(writer.WriteRecord(*makeLine(2)));
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto *oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 2 * 8560 + 100;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool third = writer.WriteRecord(*makeLine(3));
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(third);
    EXPECT_EQ(QFileInfo(path("full.plf")).size(), 2 * 8560);
    // Space again: recording carries on with aligned records.
    ASSERT_TRUE(writer.WriteRecord(*makeLine(4)));
    writer.Close();
    CCindrelDspLog reader(curve.get());
    reader.OnFileOpen(path("full.plf"));
    EXPECT_EQ(replay(reader), (std::vector<std::uint32_t>{1, 2, 4}));
}
#endif
