// The squad picture: making a 512 × 512 PAA from a PNG (goal under 150 ms) and reading one for the
// preview (goal under 20 ms).
#include "picture/makepaa.h"
#include "picture/paa.h"

#include <QBuffer>
#include <QPainter>
#include <QRadialGradient>

#include <benchmark/benchmark.h>

namespace {

// A logo as squad leaders draw them: shapes, gradients, soft edges and transparency, larger than
// the picture made from it.
QByteArray logoPng(bool transparent) {
    QImage image(1000, 1000, QImage::Format_ARGB32);
    image.fill(transparent ? QColor(Qt::transparent) : QColor(30, 40, 60));
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QRadialGradient glow(500, 500, 480);
    glow.setColorAt(0, QColor(250, 200, 40));
    glow.setColorAt(1, QColor(160, 30, 20, 200));
    painter.setBrush(glow);
    painter.setPen(QPen(QColor(20, 20, 20), 24));
    painter.drawEllipse(QPoint(500, 500), 460, 460);
    painter.setBrush(QColor(40, 90, 160));
    painter.drawPolygon(QPolygon({{500, 120}, {820, 780}, {180, 780}}));
    painter.end();
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

void makeFromPng(benchmark::State &state) {
    const QByteArray png = logoPng(state.range(0) != 0);
    qsizetype size = 0;
    for (auto _ : state) {
        const QByteArray paa = picture::makePaa(QImage::fromData(png, "PNG"), 512);
        size = paa.size();
        benchmark::DoNotOptimize(paa.constData());
    }
    state.counters["bytes"] = double(size);
}
// The blocks are compressed on every core: the CPU time counted is the whole process's.
BENCHMARK(makeFromPng)
    ->ArgName("transparent")
    ->Arg(0)
    ->Arg(1)
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMillisecond);

void readForPreview(benchmark::State &state) {
    const QByteArray paa =
        picture::makePaa(QImage::fromData(logoPng(state.range(0) != 0), "PNG"), 512);
    for (auto _ : state) {
        const picture::PaaPicture read = picture::readPaa(paa);
        benchmark::DoNotOptimize(read.image.constBits());
    }
}
BENCHMARK(readForPreview)->ArgName("transparent")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

} // namespace

// QImage needs no application object, nor a display.
BENCHMARK_MAIN();
