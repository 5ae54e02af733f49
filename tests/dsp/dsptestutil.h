#pragma once
// Shared set-up of the board tests: a simulated board behind its channel,
// boot files in the working directory, shortened start-up pauses.
#include "datasource/coldcurve.h"
#include "dsp/boardaccess.h"
#include "dsp/cdspinterface.h"
#include "dsp/dspconsole.h"
#include "dsp/dsptiming.h"
#include "dsp/simboard.h"
#include "dsp/simbootfiles.h"
#include "platform/notice.h"

#include <QDir>
#include <QString>

#include <gtest/gtest.h>

#include <memory>

namespace dsptest {

inline std::shared_ptr<SimBoard> makeBoard(const SimBoardConfig &cfg = SimBoardConfig(), double rateHz = 50.0)
{
    auto board = std::make_shared<SimBoard>(cfg);
    board->setLineSource(std::make_unique<PatternLineSource>(rateHz));
    return board;
}

// An open BoardAccess on a simulated board.
inline std::unique_ptr<BoardAccess> openBoard(const std::shared_ptr<SimBoard> &board)
{
    auto access = std::make_unique<BoardAccess>(std::make_unique<SimDriverChannel>(board));
    EXPECT_EQ(access->Open(), 0);
    return access;
}

// The boxes recorded since the last clear, as "title|text" lines.
inline QStringList boxes()
{
    QStringList out;
    for (const auto &r : Notice::records())
        out << r.title + QLatin1Char('|') + r.text;
    return out;
}

struct DspFixture : ::testing::Test {
    std::unique_ptr<ColdCurve> curve = std::make_unique<ColdCurve>();

    void SetUp() override
    {
        dsptiming::setScale(0.001);
        Notice::clearRecords();
        Notice::clearReplies();
        dspconsole::startCapture();
        dspconsole::setInputProvider([](int *) { return false; });
        curve->resetStartValues();
        ASSERT_TRUE(writeSimulatedBootFiles(QDir::currentPath()));
    }
    void TearDown() override
    {
        dspconsole::stopCapture();
        dspconsole::setInputProvider(nullptr);
        dsptiming::setScale(1.0);
    }

    std::unique_ptr<CDspInterface> makeSource(const std::shared_ptr<SimBoard> &board)
    {
        auto s = std::make_unique<CDspInterface>(curve.get(), std::make_unique<SimDriverChannel>(board));
        s->setMailboxTimeLimit(300);
        return s;
    }
};

} // namespace dsptest
