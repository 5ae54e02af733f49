// cindrel process: a folder of flight logs through the whole chain the
// orthorectify worker runs when a run has ended (LogProductChain): the
// mission's elevation raster, re-detection and desmoke, the ortho products,
// the mission mosaic and the site's script.
//
// Each log is processed by a child process ("cindrel process-log"), so that
// logs run side by side (--jobs) without sharing any reader or rectifier
// state. The work goes in four stages:
//   1. every log is read once for its swath (the run area the recorder's
//      strip chart would have grown for it);
//   2. each mission's elevation raster is cut once for the area of all its
//      logs (the logs of a mission share one raster name);
//   3. every log goes through the chain with its raster ready, without the
//      mosaic and the script. With more than one core the stages overlap:
//      a log's chain starts on the first core the surveys leave, desmokes
//      while the last surveys and the raster cut (on a core of its own) go
//      on, and waits for its mission's raster before its desmoked log
//      replaces the log;
//   4. each mission's mosaic is rebuilt once, then the script runs for every
//      log in log order.
// --jobs N is the number of cores the command uses: up to N children run at
// once (N - 1 while the parent cuts a raster), and in stage 3 a child's
// desmoke and rectifier work with a second thread while a core is free
// (CoreTokens), so the last logs take the cores the others left. With
// --jobs 1 everything runs on one core.
#include "app/imageviewer.h"
#include "datasource/ccindreldsplog.h"
#include "datasource/coldcurve.h"
#include "geodata/desmoke.h"
#include "ortho/crectifiedstripchart.h"
#include "ortho/logproductchain.h"
#include "platform/notice.h"
#include "stripchart/cstripchartimagery.h"
#include "stripchart/standalonepassservices.h"
#include "tools/command.h"
#include "tools/coretokens.h"
#include "tools/logscan.h"

#include <QCollator>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QSet>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include <unistd.h>

namespace {
using namespace cindrel::tool;

const QString kChildCommand = QStringLiteral("process-log");
// The product version text the worker is given after a recorded run.
const QString kProductVersion = QStringLiteral("1.0");

// ---------------------------------------------------------------------------
// The child: one log, one stage.

// The latitude/longitude box of the swath the strip chart reports for the
// log's lines (extents box B of a recorded run), projected on the whole
// degree nearest the first line.
bool surveyRunArea(const QString &path, double groundElevation, double box[4], QString *why)
{
    ColdCurve curve;
    curve.resetStartValues();
    CCindrelDspLog log(&curve);
    Notice::clearRecords();
    log.OnFileOpen(path);
    if (!log.isOpen || log.GetFileVersion() == 0) {
        *why = Notice::count() ? Notice::last().text : QStringLiteral("the log cannot be opened");
        return false;
    }
    StandalonePassServices services(&log);
    services.groundElevation = groundElevation;
    std::unique_ptr<CStripChartImagery> chart;
    int meridian = 0;
    auto line = std::make_unique<ScanLineRec>();
    auto take = [&]() {
        const std::uint32_t n = log.GetNumNewImageLines();
        for (std::uint32_t age = n; age-- > 0;) {
            log.GetPriorImageLine(age, line.get());
            if (!chart) {
                const double lon = milliArcSecToDeg(line->longitude);
                meridian = ImageViewer::MissionCentralMeridian(lon, lon);
                services.converter.SetCentralMeridian(meridian);
                chart = std::make_unique<CStripChartImagery>(&services);
                chart->SetFileOutput(false);
            }
            chart->AddLine(*line, true);
        }
    };
    take();
    while (!log.DoNextFwdCycle(0, false, false))
        take();
    if (!chart) {
        *why = QStringLiteral("no line with sane navigation");
        return false;
    }
    chart->FinishRun();
    chart.reset();
    const CExtentsBox &b = services.records.boxB;
    LogJob area;
    area.easting1 = b.minX;
    area.northing1 = b.maxY;
    area.easting2 = b.maxX;
    area.northing2 = b.minY;
    area.centralMeridian = meridian;
    if (!b.HasGrown() || !LogProductChain::RunAreaBox(area, &box[0], &box[1], &box[2], &box[3])) {
        *why = QStringLiteral("no run area to extract elevation data for");
        return false;
    }
    return true;
}

// Standard output of the child, one "key: value" a line: "area: W N E S"
// (stage 1), or "status:", "reason:", "desmoke:", "product:" (stage 3);
// "failed: why" when the log could not be read. Progress goes to standard
// error as "step: NAME" and "rectify: STAGE DONE TOTAL".
int runChild(const Invocation &in)
{
    const QString path = QFileInfo(in.positional(0)).absoluteFilePath();
    double elevation = 0.0;
    if (!in.optDouble(QStringLiteral("elevation"), 0.0, &elevation, -500.0, 9000.0))
        return kUsage;
    QTextStream &o = in.out();
    if (in.has(QStringLiteral("survey"))) {
        double box[4];
        QString why;
        if (!surveyRunArea(path, elevation, box, &why))
            o << "failed: " << why << "\n";
        else
            o << "area: " << QString::number(box[0], 'f', 9) << " " << QString::number(box[1], 'f', 9) << " "
              << QString::number(box[2], 'f', 9) << " " << QString::number(box[3], 'f', 9) << "\n";
        return kSuccess;
    }

    // A curve learned from the log itself, as the recorder's curve learned
    // it in flight.
    auto curve = std::make_unique<ColdCurve>();
    curve->resetStartValues();
    const LogScan scan = scanLog(path, curve.get());
    if (!scan.ok) {
        o << "failed: " << scan.why << "\n";
        return kSuccess;
    }
    LogJob job;
    job.logPath = path;
    job.productVersion = kProductVersion;
    job.tailNumber = in.value(QStringLiteral("tail"));
    job.techName = in.value(QStringLiteral("tech"));
    job.elevationReady = true;
    job.buildMosaic = false;
    job.runScript = false;
    QTextStream &e = in.err();
    job.progress = [&e](const QString &step) {
        e << "step: " << step << "\n";
        e.flush();
    };
    job.rectifyProgress = [&e](int stage, int done, int total) {
        e << "rectify: " << stage << " " << done << " " << total << "\n";
        e.flush();
    };
    // The parent is still cutting the mission's raster: it says on standard
    // input whether it made it ("elevation: ready").
    if (in.has(QStringLiteral("wait-elevation")))
        job.elevationMade = []() {
            char line[64] = {};
            return std::fgets(line, sizeof line, stdin) && QByteArray(line).trimmed() == "elevation: ready";
        };
    // The second thread of desmoke and of the rectifier: while the parent's
    // pool has a spare core, or as the parent split the cores. Desmoke gives
    // back the core it held before the rectifier asks for one.
    CoreTokens cores;
    long long threads = 1;
    if (!in.optInt(QStringLiteral("threads"), 1, &threads, 1, 2))
        return kUsage;
    job.rectifierThreads = int(threads);
    job.desmokeThreads = int(threads);
    if (in.has(QStringLiteral("cores")) && cores.Attach(in.value(QStringLiteral("cores")))) {
        job.rectifierThreads = 2;
        job.secondThreadGate = [&cores](bool want) { return cores.SecondThread(want); };
        job.desmokeThreads = 2;
        job.desmokeGate = job.secondThreadGate;
    }
    const LogOutcome r = LogProductChain(curve.get()).Run(job);
    o << "status: " << int(r.status) << "\n";
    o << "reason: " << r.reason << "\n";
    o << "desmoke: " << r.desmoke << "\n";
    for (const QString &p : r.products)
        o << "product: " << p << "\n";
    return kSuccess;
}

// ---------------------------------------------------------------------------
// The parent.

struct LogEntry {
    QString path;
    QString name;               // file name, as the operator sees it
    QString elevationName;
    double box[4] = {0, 0, 0, 0};
    bool failed = false;        // no products (outcome.reason says why)
    bool chainRan = false;      // got past the elevation step
    double fraction = 0.0;      // progress of this log, 0..1
    LogOutcome outcome;
};

// Progress on standard error: a line per step and per log, or one bar
// redrawn in place when standard error is a terminal.
class Progress {
public:
    Progress(QTextStream &err, const QVector<LogEntry> &logs) : err(err), logs(logs)
    {
        bar = isatty(fileno(stderr)) != 0 && qEnvironmentVariable("TERM") != QLatin1String("dumb");
        clock.start();
    }
    ~Progress() { clearBar(); }

    void step(int log, const QString &text)
    {
        if (bar) {
            current = QStringLiteral("%1: %2").arg(logs[log].name, text);
            draw(true);
        } else {
            line(QStringLiteral("[%1/%2] %3: %4").arg(log + 1).arg(logs.size()).arg(logs[log].name, text));
        }
    }
    // A step of the whole batch (a mission's raster or mosaic).
    void batch(const QString &text)
    {
        if (bar) {
            current = text;
            draw(true);
        } else {
            line(text);
        }
    }
    // A message that stays: printed above the bar.
    void line(const QString &text)
    {
        clearBar();
        err << "cindrel process: " << text << "\n";
        err.flush();
        if (bar)
            draw(true);
    }
    void update() { draw(false); }

private:
    void clearBar()
    {
        if (bar && drawn) {
            err << "\r\033[K";
            err.flush();
            drawn = false;
        }
    }
    void draw(bool force)
    {
        if (!bar || (!force && clock.elapsed() - lastDraw < 200))
            return;
        lastDraw = clock.elapsed();
        double sum = 0.0;
        int done = 0;
        for (const LogEntry &l : logs) {
            sum += l.fraction;
            done += l.fraction >= 1.0 ? 1 : 0;
        }
        const double f = logs.isEmpty() ? 1.0 : sum / logs.size();
        const int width = 30, filled = int(f * width + 0.5);
        err << "\r\033[K[" << QString(filled, QLatin1Char('#')) << QString(width - filled, QLatin1Char('.')) << "] "
            << int(f * 100 + 0.5) << "% " << done << "/" << logs.size() << " logs  " << current.left(60);
        err.flush();
        drawn = true;
    }

    QTextStream &err;
    const QVector<LogEntry> &logs;
    bool bar = false;
    bool drawn = false;
    QString current;
    QElapsedTimer clock;
    qint64 lastDraw = -1000;
};

// Runs "cindrel process-log ARGS" for each task in task order, at most
// `room` at a time. onLine gets every line a child writes to standard
// error, onDone its exit code (-1 when it did not start or crashed) and
// standard output; started is told of every child that has been started.
// A task that skip() turns down when its turn comes is not started.
// coreFree is called for every core no child will take any more: once no
// task is left to start, for each core of the room no child holds and for
// each child that ends.
class ChildRunner {
public:
    ChildRunner(const QVector<QStringList> &tasks, int room) : tasks(tasks), room(room) {}

    std::function<void(int task, const QString &line)> onLine;
    std::function<void(int task, int code, const QString &out)> onDone;
    std::function<void(int task, QProcess *child)> started;
    std::function<bool(int task)> skip;
    std::function<void()> coreFree;

    // Returns when every child has ended and the parent's work beside them
    // (Beside) is done.
    void Run()
    {
        Settle();
        if (!Done())
            loop.exec();
        for (std::thread &t : workers)
            t.join();
    }
    // From the thread of Run, when a child has ended and before another is
    // started on its core (in onDone): `work` runs on a thread of its own
    // on that core, which goes back to the children when it returns.
    void Beside(std::function<void()> work)
    {
        --room;
        ++besideRunning;
        workers.emplace_back([this, work]() {
            work();
            Post([this]() {
                --besideRunning;
                ++room;
                Settle();
            });
        });
    }
    // Runs f on the thread of Run, from any thread.
    void Post(std::function<void()> f) { QMetaObject::invokeMethod(&loop, std::move(f), Qt::QueuedConnection); }
    // The child of a task while it runs, else null.
    QProcess *Child(int task) const { return children.value(task); }

private:
    bool Done() const { return children.isEmpty() && next >= tasks.size() && besideRunning == 0; }
    void Settle()
    {
        while (children.size() < room && next < tasks.size()) {
            const int task = next++;
            if (!skip || !skip(task))
                Start(task);
        }
        for (; next >= tasks.size() && given < room - children.size(); ++given)
            if (coreFree)
                coreFree();
        if (Done())
            loop.quit();
    }
    void Finish(int task, int code, const QString &out)
    {
        children.remove(task);
        onDone(task, code, out);
        Settle();
    }
    void Start(int task)
    {
        auto *p = new QProcess(&loop);
        auto pending = std::make_shared<QByteArray>();
        auto drain = [this, p, pending, task](bool all) {
            pending->append(p->readAllStandardError());
            int nl;
            while ((nl = pending->indexOf('\n')) >= 0) {
                onLine(task, QString::fromUtf8(pending->left(nl)));
                pending->remove(0, nl + 1);
            }
            if (all && !pending->isEmpty()) {
                onLine(task, QString::fromUtf8(*pending));
                pending->clear();
            }
        };
        QObject::connect(p, &QProcess::readyReadStandardError, p, [drain]() { drain(false); });
        QObject::connect(p, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), p,
                         [this, p, drain, task](int code, QProcess::ExitStatus status) {
                             drain(true);
                             const QString out = QString::fromUtf8(p->readAllStandardOutput());
                             p->deleteLater();
                             Finish(task, status == QProcess::NormalExit ? code : -1, out);
                         });
        QObject::connect(p, &QProcess::errorOccurred, p, [this, p, task](QProcess::ProcessError error) {
            if (error != QProcess::FailedToStart)
                return;   // a crash also ends with finished()
            p->deleteLater();
            Finish(task, -1, QString());
        });
        children.insert(task, p);
        p->start(QCoreApplication::applicationFilePath(), QStringList{kChildCommand} + tasks[task]);
        if (started && children.value(task) == p)
            started(task, p);
    }

    QVector<QStringList> tasks;
    int room;
    int next = 0, given = 0;
    int besideRunning = 0;
    std::vector<std::thread> workers;
    QMap<int, QProcess *> children;
    QEventLoop loop;
};

QMap<QString, QString> keyValues(const QString &text, QStringList *products)
{
    QMap<QString, QString> m;
    for (const QString &line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const int colon = line.indexOf(QLatin1String(": "));
        if (colon <= 0)
            continue;
        const QString key = line.left(colon), value = line.mid(colon + 2);
        if (key == QLatin1String("product"))
            products->append(value);
        else
            m.insert(key, value);
    }
    return m;
}

void fail(LogEntry &l, LogOutcome::Status status, const QString &reason)
{
    l.failed = true;
    l.outcome.status = status;
    l.outcome.reason = reason;
    l.fraction = 1.0;
}

// The logs named on the command line, or those of the folder in name order
// (pass 10 after pass 9), without the originals desmoke keeps.
bool collectLogs(const Invocation &in, QStringList *paths, int *status)
{
    const QStringList args = in.positionals();
    bool folder = false;
    for (const QString &a : args)
        folder = folder || QFileInfo(a).isDir();
    if (folder && args.size() > 1) {
        *status = in.usageError(QStringLiteral("give either one folder or flight log files, not both"));
        return false;
    }
    if (!folder) {
        for (const QString &a : args) {
            const QString p = QFileInfo(a).absoluteFilePath();
            if (!paths->contains(p))
                paths->append(p);
        }
        return true;
    }
    const QDir dir(args.first());
    QStringList names = dir.entryList({QStringLiteral("*.plf"), QStringLiteral("*.PLF")}, QDir::Files);
    QSet<QString> originals;
    for (const QString &n : names)
        originals.insert(QFileInfo(DesmokeFiles(dir.absoluteFilePath(n)).orig).fileName());
    QCollator collator;
    collator.setNumericMode(true);
    std::sort(names.begin(), names.end(), [&](const QString &a, const QString &b) { return collator.compare(a, b) < 0; });
    for (const QString &n : names)
        if (!originals.contains(n))
            paths->append(dir.absoluteFilePath(n));
    if (paths->isEmpty()) {
        *status = in.error(QStringLiteral("%1: no flight logs (*.plf) in the folder")
                               .arg(QDir::toNativeSeparators(dir.absolutePath())));
        return false;
    }
    return true;
}

int runProcess(const Invocation &in)
{
    long long jobs = 1;
    double elevation = 0.0;
    if (!in.optInt(QStringLiteral("jobs"), 1, &jobs, 1, 64)
        || !in.optDouble(QStringLiteral("elevation"), 0.0, &elevation, -500.0, 9000.0))
        return kUsage;
    QStringList paths;
    int status = kSuccess;
    if (!collectLogs(in, &paths, &status))
        return status;

    QVector<LogEntry> logs;
    for (const QString &p : paths) {
        LogEntry l;
        l.path = p;
        l.name = QFileInfo(p).fileName();
        l.outcome.path = p;
        const QFileInfo fi(p);
        if (!fi.isFile() || !fi.isReadable())
            fail(l, LogOutcome::Status::LogMissing,
                 fi.exists() ? QStringLiteral("the log cannot be read") : QStringLiteral("no such log file"));
        else if (!fi.fileName().contains(QLatin1Char('_')))
            fail(l, LogOutcome::Status::NoRunArea,
                 QStringLiteral("the log name has no \"_\", so it names no elevation raster"));
        else
            l.elevationName = CCindrelDspLog::ElevationFileName(p);
        logs.append(l);
    }
    Progress progress(in.err(), logs);

    // 1. The swath of every log.
    QVector<int> order;   // the logs not failed before the children start
    for (int i = 0; i < logs.size(); ++i)
        if (!logs[i].failed)
            order.append(i);
    const QStringList common = {QStringLiteral("--elevation"), QString::number(elevation, 'g', 17)};
    const auto surveyTask = [&](int i) { return QStringList{logs[i].path, QStringLiteral("--survey")} + common; };
    auto childFailed = [&](LogEntry &l, int code) {
        fail(l, LogOutcome::Status::RectifierFailed,
             QStringLiteral("the processing stopped unexpectedly (%1)")
                 .arg(code < 0 ? QStringLiteral("crashed") : QStringLiteral("exit status %1").arg(code)));
    };
    // A line a child of log i wrote to standard error. A log already named
    // failed (its raster could not be made) is not followed any further.
    auto onLine = [&](int i, const QString &text) {
        LogEntry &l = logs[i];
        if (l.failed)
            return;
        if (text.startsWith(QLatin1String("step: "))) {
            const QString step = text.mid(6);
            l.fraction = step == QLatin1String("desmoke") ? 0.1 : step == QLatin1String("orthorectify") ? 0.4 : l.fraction;
            progress.step(i, step);
        } else if (text.startsWith(QLatin1String("rectify: "))) {
            const QStringList f = text.mid(9).split(QLatin1Char(' '));
            const int stage = f.value(0).toInt(), done = f.value(1).toInt(), total = f.value(2).toInt();
            if (total > 0)
                l.fraction = 0.4 + 0.6 * (stage + double(done) / total) / 4.0;
            progress.update();
        } else if (!text.trimmed().isEmpty() && !text.startsWith(QLatin1String("TIFFReadDirectory: Warning"))) {
            // (The image reader does not know the GeoTIFF tags of the
            // products it copies: harmless, and no news to the analyst.)
            progress.line(QStringLiteral("%1: %2").arg(l.name, text));
        }
    };
    const auto surveyDone = [&](int i, int code, const QString &out) {
        LogEntry &l = logs[i];
        QStringList unused;
        const auto kv = keyValues(out, &unused);
        const QStringList box = kv.value(QStringLiteral("area")).split(QLatin1Char(' '));
        if (code != 0)
            childFailed(l, code);
        else if (box.size() != 4)
            fail(l, LogOutcome::Status::NoRunArea, kv.value(QStringLiteral("failed"), QStringLiteral("no run area")));
        else
            for (int k = 0; k < 4; ++k)
                l.box[k] = box[k].toDouble();
    };

    // 2. One elevation raster per mission, for the area of all its logs.
    struct Cut {
        QString name;   // elevation name, in log order
        double west = 1e9, north = -1e9, east = -1e9, south = 1e9;
    };
    std::vector<Cut> cuts;
    const auto planCuts = [&]() {
        for (const LogEntry &l : logs) {
            if (l.failed)
                continue;
            auto c = std::find_if(cuts.begin(), cuts.end(), [&](const Cut &k) { return k.name == l.elevationName; });
            if (c == cuts.end())
                c = cuts.insert(cuts.end(), Cut{l.elevationName});
            c->west = std::min(c->west, l.box[0]);
            c->north = std::max(c->north, l.box[1]);
            c->east = std::max(c->east, l.box[2]);
            c->south = std::min(c->south, l.box[3]);
        }
    };
    const auto cutStarts = [&](std::size_t k) {
        progress.batch(QStringLiteral("%1: elevation").arg(QFileInfo(cuts[k].name).completeBaseName()));
    };
    const auto cutEnded = [&](std::size_t k, bool made, const LogOutcome &extraction) {
        if (!made)
            for (LogEntry &l : logs)
                if (!l.failed && l.elevationName == cuts[k].name)
                    fail(l, extraction.status, extraction.reason);
    };

    // 3. The chain of every log that has its raster. The cores the first
    // children leave free, and those of children with no log left to take
    // up, go to the rectifiers' second threads.
    QStringList texts;
    for (const char *o : {"tail", "tech"})
        if (in.has(QLatin1String(o)))
            texts << QStringLiteral("--") + QLatin1String(o) << in.value(QLatin1String(o));
    CoreTokens cores;
    const auto chainTexts = [&](int logCount) {
        const int first = std::min(int(jobs), logCount);
        if (jobs > 1 && cores.Create(0))
            texts << QStringLiteral("--cores") << cores.Name();
        else
            texts << QStringLiteral("--threads") << QString::number(jobs >= 2 * first ? 2 : 1);
    };
    const auto chainDone = [&](int i, int code, const QString &out) {
        LogEntry &l = logs[i];
        if (l.failed)
            return;   // named when its raster could not be made
        QStringList products;
        const auto kv = keyValues(out, &products);
        l.fraction = 1.0;
        if (code != 0 || (!kv.contains(QStringLiteral("status")) && !kv.contains(QStringLiteral("failed")))) {
            childFailed(l, code);
            return;
        }
        if (kv.contains(QStringLiteral("failed"))) {
            fail(l, LogOutcome::Status::LogMissing, kv.value(QStringLiteral("failed")));
            return;
        }
        l.chainRan = true;
        l.outcome.status = LogOutcome::Status(kv.value(QStringLiteral("status")).toInt());
        l.outcome.reason = kv.value(QStringLiteral("reason"));
        l.outcome.desmoke = kv.value(QStringLiteral("desmoke")).toInt();
        l.outcome.products = products;
        l.failed = !l.outcome.Succeeded();
        progress.step(i, l.failed ? QStringLiteral("no products - %1").arg(l.outcome.reason)
                                  : QStringLiteral("%1 products").arg(products.size()));
    };

    for (int i : order)
        progress.step(i, QStringLiteral("run area"));
    if (jobs == 1) {
        // One core: the stages one after the other.
        QVector<QStringList> tasks;
        for (int i : order)
            tasks.append(surveyTask(i));
        ChildRunner survey(tasks, 1);
        survey.onLine = [&](int task, const QString &text) { onLine(order[task], text); };
        survey.onDone = [&](int task, int code, const QString &out) { surveyDone(order[task], code, out); };
        survey.Run();
        planCuts();
        for (std::size_t k = 0; k < cuts.size(); ++k) {
            const Cut &c = cuts[k];
            cutStarts(k);
            LogOutcome extraction;
            cutEnded(k, LogProductChain::ExtractElevation(c.west, c.north, c.east, c.south, c.name, &extraction),
                     extraction);
        }
        QVector<int> chained;
        for (int i : order)
            if (!logs[i].failed)
                chained.append(i);
        chainTexts(chained.size());
        tasks.clear();
        for (int i : chained)
            tasks.append(QStringList{logs[i].path} + texts);
        ChildRunner chains(tasks, 1);
        chains.onLine = [&](int task, const QString &text) { onLine(chained[task], text); };
        chains.onDone = [&](int task, int code, const QString &out) { chainDone(chained[task], code, out); };
        chains.Run();
    } else {
        // More cores: one run of children, the surveys first, then the
        // chains. A chain starts its desmoke while the last surveys and the
        // raster cut are still going on, and waits for its mission's raster
        // (told on its standard input) before the desmoked log replaces the
        // log. The cut takes the core of the last survey, on a thread of
        // the parent, and hands each mission's result to the parent's loop.
        chainTexts(order.size());
        texts << QStringLiteral("--wait-elevation");
        QVector<QStringList> tasks;
        for (int i : order)
            tasks.append(surveyTask(i));
        for (int i : order)
            tasks.append(QStringList{logs[i].path} + texts);
        const int surveys = order.size();
        const auto logOf = [&](int task) { return order[task % surveys]; };
        ChildRunner all(tasks, int(jobs));
        std::vector<int> cutState;   // per cut: 1 made, -1 failed, 0 not yet
        std::vector<bool> told(std::size_t(tasks.size()), false);
        const auto tell = [&](int task) {
            QProcess *child = all.Child(task);
            if (task < surveys || !child || told[std::size_t(task)])
                return;
            const LogEntry &l = logs[logOf(task)];
            int state = l.failed ? -1 : 0;
            for (std::size_t k = 0; k < cutState.size() && state == 0; ++k)
                if (cuts[k].name == l.elevationName)
                    state = cutState[k];
            if (state == 0)
                return;
            told[std::size_t(task)] = true;
            child->write(state > 0 ? "elevation: ready\n" : "elevation: failed\n");
            child->closeWriteChannel();
        };
        const auto tellAll = [&]() {
            for (int task = surveys; task < tasks.size(); ++task)
                tell(task);
        };
        int surveysLeft = surveys;
        all.onLine = [&](int task, const QString &text) { onLine(logOf(task), text); };
        all.skip = [&](int task) { return task >= surveys && logs[logOf(task)].failed; };
        all.started = [&](int task, QProcess *) { tell(task); };
        all.coreFree = [&cores]() { cores.Give(); };
        all.onDone = [&](int task, int code, const QString &out) {
            if (task >= surveys) {
                chainDone(logOf(task), code, out);
                return;
            }
            surveyDone(logOf(task), code, out);
            if (--surveysLeft == 0) {
                planCuts();
                cutState.assign(cuts.size(), 0);
                if (!cuts.empty()) {
                    cutStarts(0);
                    all.Beside([&all, work = cuts, &cutState, &cutEnded, &cutStarts, &tellAll]() {
                        for (std::size_t k = 0; k < work.size(); ++k) {
                            const Cut &c = work[k];
                            LogOutcome extraction;
                            const bool made = LogProductChain::ExtractElevation(c.west, c.north, c.east, c.south,
                                                                                c.name, &extraction);
                            all.Post([&, k, made, extraction]() {
                                cutState[k] = made ? 1 : -1;
                                cutEnded(k, made, extraction);
                                tellAll();
                                if (k + 1 < cutState.size())
                                    cutStarts(k + 1);
                            });
                        }
                    });
                }
            }
            tellAll();
        };
        all.Run();
    }

    // 4. Each mission's mosaic once, from its passes in the folder, then the
    // site's script for every log in log order.
    QMap<QString, LogOutcome> mosaics;
    for (int i = logs.size() - 1; i >= 0; --i) {
        const QString m = logs[i].elevationName;
        if (!logs[i].chainRan || mosaics.contains(m))
            continue;
        progress.batch(QStringLiteral("%1: mosaic").arg(QFileInfo(m).completeBaseName()));
        LogOutcome mosaic;
        // Every child has ended: the mosaic takes up to two of the cores.
        LogProductChain::BuildMosaic(logs[i].path, &mosaic, int(std::min<long long>(jobs, 2)));
        mosaics.insert(m, mosaic);
    }
    for (LogEntry &l : logs)
        if (l.chainRan) {
            l.outcome.mosaicSaved = mosaics[l.elevationName].mosaicSaved;
            l.outcome.mosaicPath = mosaics[l.elevationName].mosaicPath;
            if (!in.has(QStringLiteral("no-script"))) {
                progress.step(int(&l - logs.data()), QStringLiteral("script"));
                l.outcome.script = LogProductChain::RunScript(l.path);
            }
        }

    // What was made, in log order; every failure named.
    QTextStream &o = in.out();
    int failures = 0;
    for (const LogEntry &l : logs) {
        o << l.outcome.Summary() << "\n";
        for (const QString &p : l.outcome.products)
            o << "  " << QDir::toNativeSeparators(p) << "\n";
        failures += l.failed ? 1 : 0;
    }
    QStringList written;
    for (const LogOutcome &m : mosaics)
        if (m.mosaicSaved && !written.contains(m.mosaicPath))
            written << m.mosaicPath;
    for (const QString &m : written)
        o << "mosaic: " << QDir::toNativeSeparators(m) << "\n";
    o.flush();
    for (const LogEntry &l : logs)
        if (l.failed)
            progress.line(l.outcome.Summary());
    if (failures > 0)
        return in.error(QStringLiteral("%1 of %2 logs failed").arg(failures).arg(logs.size()));
    progress.batch(QStringLiteral("%1 logs processed").arg(logs.size()));
    return kSuccess;
}

const bool registered = registerCommand(
    {QStringLiteral("process"), QStringLiteral("Run the whole product chain for flight logs or a folder of them"),
     QStringLiteral("LOG... | DIR [--jobs N] [--no-script] [--elevation METRES] [--tail NUMBER] [--tech NAME]"),
     QStringLiteral("Does for every log what the program does when a run ends: cuts the mission's elevation raster\n"
                    "(the log's path cut before its last \"_\") from the DEM tiles for the swath of its logs,\n"
                    "re-detects fire and removes smoke with the stored detection parameters (the untouched log\n"
                    "is kept as <name>orig.plf), writes the ortho, colour and fire images beside the log,\n"
                    "rebuilds the mission mosaic and heat points, and runs the site's \"int\" script with the\n"
                    "log's base name. DIR: every *.plf in it, in name order. Run it in the data set's folder\n"
                    "(elevation tile list and GeoData). Progress goes to standard error; standard output lists\n"
                    "each log's products, in log order. Exit status 1 names every log that failed; the others\n"
                    "are still processed.\n"
                    "--jobs N is the number of cores to use, as with make -j: up to N logs are processed side by\n"
                    "side, a log's desmoke and orthorectification take a second core whenever one is free (so the\n"
                    "last log of a batch uses the cores the others have left), and the mosaic is built on two\n"
                    "cores. With --jobs 1 everything runs on one core. The products are the same whatever N."),
     {{QStringLiteral("jobs"), QStringLiteral("N"), QStringLiteral("cores to use (default 1)")},
      {QStringLiteral("no-script"), QString(), QStringLiteral("do not run the site's script")},
      {QStringLiteral("elevation"), QStringLiteral("METRES"),
       QStringLiteral("ground elevation of the mission (default 0): the swath width for the run area")},
      {QStringLiteral("tail"), QStringLiteral("NUMBER"), QStringLiteral("aircraft tail number for the products")},
      {QStringLiteral("tech"), QStringLiteral("NAME"), QStringLiteral("IR technician for the products")}},
     1, -1, runProcess});

const bool registeredChild = registerCommand(
    {kChildCommand, QStringLiteral("One log of cindrel process (started by it)"),
     QStringLiteral("LOG [--survey] [--elevation METRES] [--tail NUMBER] [--tech NAME] [--threads N | --cores POOL]"
                    " [--wait-elevation]"),
     QStringLiteral("With --survey prints the latitude/longitude box of the log's swath; otherwise runs the\n"
                    "product chain on the log with its elevation raster made, without mosaic and script.\n"
                    "With --wait-elevation the raster is still being made: before the desmoked log replaces\n"
                    "the log, the chain waits for the line \"elevation: ready\" on standard input; any other\n"
                    "line, or none, stops it with the log as it was."),
     {{QStringLiteral("survey"), QString(), QStringLiteral("only the run area")},
      {QStringLiteral("wait-elevation"), QString(),
       QStringLiteral("wait on standard input for the elevation raster before changing the log")},
      {QStringLiteral("threads"), QStringLiteral("N"), QStringLiteral("desmoke and rectifier threads, 1 or 2 (default 1)")},
      {QStringLiteral("cores"), QStringLiteral("POOL"),
       QStringLiteral("the parent's pool of spare cores: a second desmoke and rectifier thread while one is free")},
      {QStringLiteral("elevation"), QStringLiteral("METRES"), QStringLiteral("ground elevation of the mission")},
      {QStringLiteral("tail"), QStringLiteral("NUMBER"), QStringLiteral("aircraft tail number")},
      {QStringLiteral("tech"), QStringLiteral("NAME"), QStringLiteral("IR technician")}},
     1, 1, runChild, true});
} // namespace
