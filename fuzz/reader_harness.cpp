#include "fuzz/reader_harness.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tester/data/source.h"
#include "tester/market/path.h"

namespace torvik::fuzz {

namespace {

using namespace torvik::tester;

void Require(bool holds, const char* what)
{
    if (holds) return;
    std::fprintf(stderr, "broken invariant: %s\n", what);
    std::abort();
}

// The first line of each format: a History Center row forces that format.
const char* const FirstLines[] = {
    "1970.01.01,00:00,1.1,1.2,1.0,1.15,10\n",
    "time,open,high,low,close,volume\n",
    "<DATE>\t<TIME>\t<OPEN>\t<HIGH>\t<LOW>\t<CLOSE>\t<TICKVOL>\t<VOL>\t<SPREAD>\n",
    "<DATE>\t<TIME>\t<BID>\t<ASK>\t<LAST>\t<VOLUME>\t<FLAGS>\n",
};

void CheckRows(const LoadedData& data)
{
    Require(data.info.rows == data.rows.size() && !data.rows.empty(), "the row count");
    Require(data.info.digits >= 0 && data.info.digits <= MaxDigits, "the digits");
    for (size_t i = 0; i < data.rows.size(); ++i) {
        const Row& r = data.rows[i];
        Require(r.open > 0.0 && r.low > 0.0 && std::isfinite(r.high), "positive prices");
        Require(r.high >= std::max(r.open, r.close) && r.low <= std::min(r.open, r.close), "the range");
        Require(r.volume >= 0.0, "the volume");
        if (data.info.IsTicks()) Require(r.ask >= r.close, "the ask at or above the bid");
        if (i > 0) {
            const bool ordered = data.info.IsTicks() ? r.timeMs >= data.rows[i - 1].timeMs
                                                     : r.timeMs > data.rows[i - 1].timeMs;
            Require(ordered, "the order of times");
        }
    }
}

// Every model that fits the data, on an H1 chart.
void PlayPaths(const LoadedData& data)
{
    const Model models[] = {Model::Open, Model::Ohlc, data.info.IsTicks() ? Model::Ticks : Model::Lower};
    for (const Model model : models) {
        LoadedRows rows(data);
        PathSettings s;
        s.model = model;
        s.timeframeSeconds = 3600;
        s.buildBars = true;
        s.digits = data.info.digits;
        s.point = 1.0 / std::pow(10.0, data.info.digits);
        PricePath path(rows, s);
        PathTick t;
        uint64_t ticks = 0;
        uint32_t lastBar = 0;
        while (path.Next(t)) {
            ++ticks;
            Require(ticks <= 4 * data.rows.size(), "at most four ticks a row");
            Require(t.quote.ask >= t.quote.bid && t.quote.bid > 0.0, "a quote");
            Require(path.Bar().time >= lastBar, "chart bars in time order");
            Require(path.Bar().low <= path.Bar().high, "a chart bar's range");
            lastBar = path.Bar().time;
        }
        Require(ticks > 0, "a tick from every file with a row");
    }
}

}  // namespace

void ReadRows(ReaderFormat format, const uint8_t* data, size_t size)
{
    std::string text = FirstLines[static_cast<int>(format)];
    text.append(reinterpret_cast<const char*>(data), size);
    LoadedData loaded;
    try {
        loaded = LoadText(text, "fuzz.csv");
    } catch (const TesterError& e) {
        const std::string message = e.what();
        Require(message.rfind("fuzz.csv", 0) == 0, "a message that names the file");
        bool scanFails = false;
        try {
            ScanText(text, "fuzz.csv");
        } catch (const TesterError&) {
            scanFails = true;
        }
        Require(scanFails, "a scan fails where a load fails");
        return;
    }
    const FileInfo scanned = ScanText(text, "fuzz.csv");
    Require(scanned.rows == loaded.info.rows && scanned.digits == loaded.info.digits &&
                scanned.lastTimeMs == loaded.info.lastTimeMs && scanned.format == loaded.info.format,
            "a scan agrees with a load");
    Require(static_cast<int>(loaded.info.format) == static_cast<int>(format), "the format of the first line");
    CheckRows(loaded);
    PlayPaths(loaded);
}

}  // namespace torvik::fuzz
