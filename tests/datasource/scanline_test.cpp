#include "datasource/cdatasource.h"
#include "datasource/scanline.h"
#include "platform/notice.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace {
template <typename T>
T readAt(const ScanLineRec &r, size_t off)
{
    T v;
    std::memcpy(&v, reinterpret_cast<const char *>(&r) + off, sizeof(T));
    return v;
}
} // namespace

TEST(ScanLineRecLayout, FieldsLandAtDocumentedOffsets)
{
    auto r = std::make_unique<ScanLineRec>();
    r->clear();
    r->lineIndex = 0x01020304;
    r->chnBGain = 2.5f;
    r->chnBOffset = -77;
    r->statWord1 = 11;
    r->statWord2 = 12;
    r->chnBMin = -300;
    r->chnBMax = 900;
    r->vhInterval = 21;
    r->vhOverride = 22;
    r->vhOverrideOn = 1;
    r->dspStatus = 5;
    r->fireMargin = -9;
    r->fireThreshold = 350;
    r->latitude = 162000000;
    r->longitude = -426600000;
    r->altitude = 300000;
    r->pitch = -150;
    r->roll = 275;
    r->speed = 7000;
    r->heading = 35999;
    r->lineFlags = 0x18;
    r->track = 1234;
    r->scanPeriod = 4800;
    r->chanA[0] = 111;
    r->chanA[1679] = 222;
    r->chanB[0] = 333;
    r->chanB[1679] = -444;
    r->pix[0] = 7;
    r->pix[1679] = 255;
    r->pixExtra[11] = 9;
    r->pendingLines = 42;

    EXPECT_EQ(readAt<uint32_t>(*r, 0), 0x01020304u);
    EXPECT_FLOAT_EQ(readAt<float>(*r, 4), 2.5f);
    EXPECT_EQ(readAt<int32_t>(*r, 8), -77);
    EXPECT_EQ(readAt<uint32_t>(*r, 12), 11u);
    EXPECT_EQ(readAt<uint32_t>(*r, 16), 12u);
    EXPECT_EQ(readAt<int32_t>(*r, 20), -300);
    EXPECT_EQ(readAt<int32_t>(*r, 24), 900);
    EXPECT_EQ(readAt<uint32_t>(*r, 28), 21u);
    EXPECT_EQ(readAt<uint32_t>(*r, 32), 22u);
    EXPECT_EQ(readAt<uint32_t>(*r, 36), 1u);
    EXPECT_EQ(readAt<uint32_t>(*r, 88), 5u);
    EXPECT_EQ(readAt<int32_t>(*r, 92), -9);
    EXPECT_EQ(readAt<int32_t>(*r, 100), 350);
    EXPECT_EQ(readAt<int32_t>(*r, 112), 162000000);
    EXPECT_EQ(readAt<int32_t>(*r, 116), -426600000);
    EXPECT_EQ(readAt<int32_t>(*r, 120), 300000);
    EXPECT_EQ(readAt<int16_t>(*r, 124), -150);
    EXPECT_EQ(readAt<int16_t>(*r, 126), 275);
    EXPECT_EQ(readAt<int16_t>(*r, 128), 7000);
    EXPECT_EQ(readAt<uint16_t>(*r, 130), 35999);
    EXPECT_EQ(readAt<uint16_t>(*r, 132), 0x18);
    EXPECT_EQ(readAt<uint16_t>(*r, 134), 1234);
    EXPECT_EQ(readAt<uint32_t>(*r, 140), 4800u);
    EXPECT_EQ(readAt<int32_t>(*r, 144), 111);
    EXPECT_EQ(readAt<int32_t>(*r, 144 + 4 * 1679), 222);
    EXPECT_EQ(readAt<int32_t>(*r, 6864), 333);
    EXPECT_EQ(readAt<int32_t>(*r, 6864 + 4 * 1679), -444);
    EXPECT_EQ(readAt<uint8_t>(*r, 13584), 7);
    EXPECT_EQ(readAt<uint8_t>(*r, 13584 + 1679), 255);
    EXPECT_EQ(readAt<uint8_t>(*r, 15264 + 11), 9);
    EXPECT_EQ(readAt<uint32_t>(*r, 15304), 42u);
    EXPECT_EQ(r->effectiveInterval(), 22u);
    EXPECT_DOUBLE_EQ(milliArcSecToDeg(r->latitude), 45.0);
}

TEST(DataSourceBase, StubsShowOneProgrammingErrorAndReturnZero)
{
    CDataSource src;
    Notice::clearRecords();
    EXPECT_EQ(src.GetAltitude(), 0.0f);
    ASSERT_EQ(Notice::count(), 1);
    EXPECT_EQ(Notice::last().kind, Notice::Kind::Critical);
    EXPECT_EQ(Notice::last().title, QStringLiteral("PROGRAMMING ERROR"));
    EXPECT_EQ(Notice::last().text, QStringLiteral("CDataSource::GetAltitude should never execute."));
    EXPECT_EQ(Notice::last().buttons, QMessageBox::StandardButtons(QMessageBox::Ok));

    double lat = 1, lon = 1;
    src.GetPosition(&lat, &lon);
    EXPECT_EQ(Notice::last().text, QStringLiteral("CDataSource::GetPosition (double) should never execute."));
    EXPECT_EQ(lat, 0.0);
    uint32_t w = 9, n = 9, e = 9, s = 9;
    EXPECT_FALSE(src.GetBoundingAreaOfLog(&w, &n, &e, &s));
    EXPECT_EQ(w + n + e + s, 0u);
    EXPECT_EQ(Notice::count(), 3);

    // Operations whose base does nothing show no box.
    Notice::clearRecords();
    EXPECT_EQ(src.GetChnBGain(), 0.0f);
    EXPECT_EQ(src.GetChnBOffset(), 0);
    EXPECT_FALSE(src.RewindLog());
    EXPECT_TRUE(src.GetFileName().isEmpty());
    EXPECT_FALSE(src.isOpen);
    EXPECT_EQ(Notice::count(), 0);
}
