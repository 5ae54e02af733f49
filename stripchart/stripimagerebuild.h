#pragma once
// Rebuilds the strip chart image of a recorded flight log in two passes: the
// first gathers the channel B statistics of the non-fire pixels, the second
// stretches channel B to +-3 standard deviations into the image bytes (fire
// pixels stay fire) and feeds every line to a strip chart builder in plain
// mode with fire dilation on.
#include "stripchart/passservices.h"

#include <QString>

#include <cstdint>
#include <functional>


struct StripStretch {
    double mean = 0.0;
    double sd = 0.0;
    double scale = 0.0;
    double offset = 127.5;
    // No non-fire pixel, or no spread: every swath pixel becomes mid-grey.
    bool degenerate = true;

    // The image byte of a channel B sample.
    std::uint8_t apply(std::int32_t b) const;
};

// lo = mean - 3 sd, hi = mean + 3 sd; scale = 254 / (hi - lo), offset =
// 254 - scale * hi + 0.5.
StripStretch computeStripStretch(double sum, double sumSquares, std::uint64_t count);

struct StripRebuildResult {
    bool ok = false;               // a log was open and its lines went to the builder
    std::uint64_t lines = 0;       // lines of the second pass
    std::uint64_t samples = 0;     // non-fire pixels of the first pass
    StripStretch stretch;
    std::int32_t runNumber = -1;
    QString imagePath;             // the final TIFF (empty when none was written)
    QString jpegPath;
};

// Runs both passes over the services' data source, which must be an opened
// flight log (it is rewound between the passes and left at its end). The
// builder's image is named by the services' path prefix and run number, or
// by outputTmpPath when given (its base name names the final files).
// secondPassDone is called after the second pass, before the image is
// finished. The caller deletes the log afterwards.
StripRebuildResult RebuildStripImage(PassServices &services, const QString &outputTmpPath = QString(),
                                     const std::function<void()> &secondPassDone = {});

// The services a rebuild runs with: the owner's converter, mission texts
// and ground elevation, the given log as the data source, and nothing that
// belongs to a real run. No pass is registered or numbered, no flight log
// is opened or written, the footprint extents and the map stay as they are.
class RebuildPassServices : public PassServices {
public:
    RebuildPassServices(PassServices &owner, CDataSource *log) : owner(owner), log(log) {}

    std::int32_t StartPass(double, double, int, float heading, float, const QDateTime &) override
    {
        runHeading = heading;
        return 1;
    }
    bool ManipulateLogFile(int, bool) override { return false; }
    void WriteLogLine(const ScanLineRec &) override {}
    void SetRunHeading(float heading) override { runHeading = heading; }
    void UpdatePass(double, double, int, float, float) override {}
    void ReportSwathEdges(double, double, double, double, bool) override {}
    void EndPass(double, double, int, float, float, bool) override {}
    std::int32_t GetPassHeading(std::int32_t) override { return std::int32_t(runHeading + 0.5f); }
    bool IsRecordArmed() const override { return false; }
    QString GetTailNumber() const override { return owner.GetTailNumber(); }
    QString GetTechName() const override { return owner.GetTechName(); }
    QString GetMissionName() const override { return owner.GetMissionName(); }
    QString GetPathPrefix() const override { return owner.GetPathPrefix(); }
    double GetGroundElevation() const override { return owner.GetGroundElevation(); }
    CUtmConverter *GetConverter() override { return owner.GetConverter(); }
    CDataSource *GetDataSource() override { return log; }
    bool IsMapMode() const override { return false; }
    void SetMapMode(bool) override {}
    QWidget *GetNoticeParent() override { return owner.GetNoticeParent(); }

private:
    PassServices &owner;
    CDataSource *log;
    float runHeading = 0.0f;
};
