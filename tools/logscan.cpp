#include "tools/logscan.h"

#include "datasource/ccindreldsplog.h"
#include "datasource/coldcurve.h"
#include "platform/notice.h"

#include <algorithm>
#include <memory>

LogScan scanLog(const QString &path, ColdCurve *learn)
{
    LogScan s;
    ColdCurve unused;
    unused.resetStartValues();
    CCindrelDspLog log(learn ? learn : &unused);
    Notice::clearRecords();
    log.OnFileOpen(path);
    if (log.GetFileName().isEmpty() || log.GetFileVersion() == 0) {
        s.why = Notice::count() ? Notice::last().text : QStringLiteral("cannot open");
        return s;
    }
    auto rec = std::make_unique<ScanLineRec>();
    auto count = [&s](const ScanLineRec &r) {
        ++s.lines;
        s.firePixels += std::count(r.pix, r.pix + SAMPLES_PER_LINE, FIRE_PIXEL);
    };
    if (log.GetRecordsRead() > 0) {
        *rec = log.CurrentRecord();
        count(*rec);
        if (learn)
            log.Buffer().AddLine(*rec);
    }
    while (log.GetNextLine(rec.get())) {
        count(*rec);
        if (learn)
            log.Buffer().AddLine(*rec);
    }
    if (Notice::count() && Notice::last().kind == Notice::Kind::Critical) {
        s.why = Notice::last().text;
        return s;
    }
    s.ok = true;
    return s;
}
