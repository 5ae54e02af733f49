// Geolocation against the simulator's independent ray tracing: a pass over
// known terrain with fires at known places is rectified, and every fire
// must show up as red pixels within a cell or two of its true position, as
// read back from the GeoTIFF by GDAL.
#include "datasource/ccindreldsplog.h"
#include "datasource/coldcurve.h"
#include "datasource/cutmconverter.h"
#include "ortho/crectifiedstripchart.h"
#include "orthofixtures.h"
#include "sim/geodesy.h"
#include "common/testsupport.h"

#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>

#include <gtest/gtest.h>

#include <cmath>
#include <map>

using namespace orthotest;

namespace {

sim::SceneParams truthScene()
{
    sim::SceneParams p;
    p.seed = 7;
    p.regionDeg = 0.25;
    p.relief = 700.0;
    p.smokeCount = 0;
    return p;
}

struct Cluster {
    double x = 0, y = 0;   // pixel centre (image coordinates)
    int n = 0;
};

// Red pixels of the palette image grouped into 8-connected clusters.
std::vector<Cluster> fireClusters(const QImage &img)
{
    std::vector<int> label(std::size_t(img.width()) * img.height(), 0);
    std::vector<Cluster> out;
    for (int y = 0; y < img.height(); ++y) {
        for (int x = 33; x < 33 + 1600; ++x) {
            if (img.pixelIndex(x, y) != 255 || label[std::size_t(y) * img.width() + x])
                continue;
            Cluster c;
            std::vector<std::pair<int, int>> stack{{x, y}};
            label[std::size_t(y) * img.width() + x] = int(out.size()) + 1;
            while (!stack.empty()) {
                const auto [px, py] = stack.back();
                stack.pop_back();
                c.x += px + 0.5;
                c.y += py + 0.5;
                ++c.n;
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx) {
                        const int qx = px + dx, qy = py + dy;
                        if (qx < 33 || qx >= 33 + 1600 || qy < 0 || qy >= img.height())
                            continue;
                        int &l = label[std::size_t(qy) * img.width() + qx];
                        if (!l && img.pixelIndex(qx, qy) == 255) {
                            l = int(out.size()) + 1;
                            stack.push_back({qx, qy});
                        }
                    }
            }
            c.x /= c.n;
            c.y /= c.n;
            out.push_back(c);
        }
    }
    return out;
}

// Pixel positions through the file's own georeference: map coordinates of
// the file's grid, or with a target (e.g. EPSG:4269) longitude/latitude.
bool transformPixels(const QString &tif, const QString &target, const std::vector<Cluster> &clusters,
                     std::vector<std::pair<double, double>> *out)
{
    QProcess p;
    QStringList args;
    if (!target.isEmpty())
        args << QStringLiteral("-t_srs") << target;
    p.start(QStringLiteral("gdaltransform"), args << tif);
    if (!p.waitForStarted(10000))
        return false;
    QByteArray input;
    for (const Cluster &c : clusters)
        input += QByteArray::number(c.x, 'f', 3) + ' ' + QByteArray::number(c.y, 'f', 3) + '\n';
    p.write(input);
    p.closeWriteChannel();
    if (!p.waitForFinished(30000) || p.exitCode() != 0)
        return false;
    const QList<QByteArray> lines = p.readAllStandardOutput().split('\n');
    for (const QByteArray &l : lines) {
        const QList<QByteArray> f = l.simplified().split(' ');
        if (f.size() >= 2)
            out->push_back({f[0].toDouble(), f[1].toDouble()});
    }
    return out->size() == clusters.size();
}

struct TruthResult {
    double worstCells = 1e9;
    double cellSize = 0;
    int fires = 0, found = 0;
};

void rectifyAndMeasure(const RunRecipe &recipe, TruthResult *result)
{
    SimRun run;
    QString error;
    ASSERT_TRUE(makeRun(recipe, &run, &error)) << error.toStdString();
    ASSERT_GT(run.firePixels, 0);
    ColdCurve curve;
    CCindrelDspLog log(&curve);
    log.OnFileOpen(run.log);
    ASSERT_TRUE(log.isOpen);
    CRectifiedStripChart rect(&log);
    rect.SetOutputDirectory(run.folder + QLatin1Char('\\'));
    rect.Process();
    ASSERT_EQ(rect.GetOutcome(), CRectifiedStripChart::Produced)
        << CRectifiedStripChart::OutcomeText(rect.GetOutcome()).toStdString();
    const QString tif = run.folder + QLatin1Char('/') + run.base + QStringLiteral("_ortho.tif");
    QImage img(tif);
    ASSERT_FALSE(img.isNull());
    ASSERT_EQ(img.format(), QImage::Format_Indexed8);
    const std::vector<Cluster> clusters = fireClusters(img);
    ASSERT_FALSE(clusters.empty());
    // Grid coordinates as GDAL reads them from the file, to latitude and
    // longitude with the converter the run was projected with.
    std::vector<std::pair<double, double>> grid, lonLat, gdalLonLat;
    ASSERT_TRUE(transformPixels(tif, QString(), clusters, &grid));
    CUtmConverter utm;
    utm.SetCentralMeridian(rect.CentralMeridian());
    for (const auto &en : grid) {
        double lat, lon;
        utm.UtmToLatLon(en.second, en.first, 0, &lat, &lon, 3);
        lonLat.push_back({lon, lat});
    }
    // GDAL's own inverse, with the projection the file states, agrees.
    ASSERT_TRUE(transformPixels(tif, QStringLiteral("EPSG:4269"), clusters, &gdalLonLat));
    for (std::size_t k = 0; k < lonLat.size(); ++k)
        EXPECT_LT(sim::localDistance(lonLat[k].second, lonLat[k].first, gdalLonLat[k].second, gdalLonLat[k].first),
                  0.01);

    result->cellSize = rect.CellSize();
    result->fires = int(run.fires.size());
    double worst = 0;
    for (const sim::Fire &f : run.fires) {
        double best = 1e9, bn = 0, be = 0;
        for (const auto &ll : lonLat) {
            const double d = sim::localDistance(f.lat, f.lon, ll.second, ll.first);
            if (d < best) {
                best = d;
                bn = (ll.second - f.lat) * 111000.0;
                be = (ll.first - f.lon) * 111000.0 * std::cos(f.lat * M_PI / 180.0);
            }
        }
        if (getenv("TRUTH_DEBUG"))
            std::printf("fire %d: %.1f m (north %.1f east %.1f)\n", f.id, best, bn, be);
        if (best < 1e8)
            ++result->found;
        worst = std::max(worst, best);
        EXPECT_LT(best, 2.0 * rect.CellSize()) << "fire " << f.id << " at " << f.lat << ", " << f.lon << " is "
                                               << best << " m from the nearest red cluster (cell "
                                               << rect.CellSize() << " m)";
    }
    // Every red cluster belongs to a fire: nothing lands far from the truth.
    for (const auto &ll : lonLat) {
        double best = 1e9;
        for (const sim::Fire &f : run.fires)
            best = std::min(best, sim::localDistance(f.lat, f.lon, ll.second, ll.first));
        EXPECT_LT(best, 3.0 * rect.CellSize()) << "a red cluster at " << ll.second << ", " << ll.first
                                               << " lies " << best << " m from any fire";
    }
    result->worstCells = worst / rect.CellSize();
}

RunRecipe truthRun(const QString &name, double heading, int lines)
{
    RunRecipe recipe;
    recipe.name = name;
    recipe.scene = truthScene();
    recipe.pass.startLat = 44.49;
    recipe.pass.startLon = -121.51;
    recipe.pass.headingDeg = heading;
    recipe.pass.lineCount = lines;
    recipe.pass.agl = 1500.0;
    // Across the whole swath (about 2600 m either side) and along the run.
    recipe.fireOffsets = {{250, -2300}, {350, -1200}, {450, 0}, {550, 700}, {650, 1600}, {750, 2350}, {300, 300}};
    return recipe;
}

} // namespace

TEST(OrthoTruth, FiresLandOnTheirGroundPositionAcrossTheSwath)
{
    if (!testsupport::haveTool(QStringLiteral("gdaltransform")))
        GTEST_SKIP() << "gdaltransform is not installed";
    TruthResult r;
    rectifyAndMeasure(truthRun(QStringLiteral("north"), 20.0, 520), &r);
    EXPECT_EQ(r.found, r.fires);
    std::printf("[ truth ] heading 20: worst fire error %.2f cells (cell %.2f m)\n", r.worstCells, r.cellSize);
}

TEST(OrthoTruth, FiresLandOnTheirGroundPositionFlyingSouthWest)
{
    if (!testsupport::haveTool(QStringLiteral("gdaltransform")))
        GTEST_SKIP() << "gdaltransform is not installed";
    TruthResult r;
    RunRecipe recipe = truthRun(QStringLiteral("southwest"), 225.0, 520);
    recipe.pass.startLat = 44.51;
    recipe.pass.startLon = -121.49;
    recipe.pass.crabDeg = -3.0;
    rectifyAndMeasure(recipe, &r);
    EXPECT_EQ(r.found, r.fires);
    std::printf("[ truth ] heading 225: worst fire error %.2f cells (cell %.2f m)\n", r.worstCells, r.cellSize);
}
