#include "simlog.h"

#include <QElapsedTimer>
#include <QProcess>

#include "datasource/ccindreldsplog.h"
#include "datasource/coldcurve.h"
#include "sim/linegenerator.h"
#include "sim/scene.h"

#include <memory>

namespace apptest {

bool writeSimLog(const QString &path, int lines)
{
    sim::SceneParams sp;
    sp.relief = 0.0;
    sp.fireCount = 3;
    sp.smokeCount = 0;
    sim::Scene scene(sp);
    sim::PassParams pp;
    pp.lineCount = lines;
    pp.headingDeg = 90.0;
    pp.startLon = -121.52;
    sim::LineGenerator gen(scene, pp);
    auto curve = std::make_unique<ColdCurve>();
    CCindrelDspLog log(curve.get());
    if (!log.OpenForWrite(path))
        return false;
    auto rec = std::make_unique<ScanLineRec>();
    while (gen.next(*rec)) {
        if (!log.WriteRecord(*rec))
            return false;
    }
    return log.Close();
}

std::vector<ScanLineRec> readLog(const QString &path)
{
    auto curve = std::make_unique<ColdCurve>();
    CCindrelDspLog log(curve.get());
    log.OnFileOpen(path);
    std::vector<ScanLineRec> out;
    if (!log.isOpen)
        return out;
    out.push_back(log.CurrentRecord());
    auto rec = std::make_unique<ScanLineRec>();
    while (log.GetNextLine(rec.get()))
        out.push_back(*rec);
    return out;
}

QString startXvfb(QProcess &xvfb, const QString &screen)
{
    xvfb.setProgram(QStringLiteral("Xvfb"));
    xvfb.setArguments({QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                       QStringLiteral("0"), screen + QStringLiteral("x24"), QStringLiteral("-nolisten"),
                       QStringLiteral("tcp")});
    xvfb.start();
    if (!xvfb.waitForStarted(10000))
        return {};
    QElapsedTimer t;
    t.start();
    QByteArray out;
    while (!out.contains('\n') && t.elapsed() < 15000) {
        xvfb.waitForReadyRead(500);
        out += xvfb.readAllStandardOutput();
    }
    const QByteArray number = out.trimmed();
    return number.isEmpty() ? QString() : QStringLiteral(":") + QString::fromLatin1(number);
}

} // namespace apptest
