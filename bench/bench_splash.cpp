// Cost of shaping the splash window: building the mask of a picture against simply reading its
// pixels once. The mask is rebuilt on every repaint, so it must stay a small multiple of the scan
// even for pictures far larger than any real splash.

#include "platform/zkThreadClock.h"
#include "shell/zkSplashForm.h"

#include <QGuiApplication>
#include <QImage>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <time.h>

namespace {

// Runs of ink and white of pseudo-random lengths 1..maxRun, different on every row.
QImage busyPicture(int width, int height, int maxRun) {
    QImage image(width, height, QImage::Format_RGB32);
    uint32_t seed = 12345;
    const auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return seed >> 8;
    };
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        bool ink = (y & 1) != 0;
        int x = 0;
        while (x < width) {
            const int length = std::min<int>(width - x, 1 + int(next() % uint32_t(maxRun)));
            const QRgb colour = ink ? qRgb(20, 60, 90) : qRgb(255, 255, 255);
            std::fill(row + x, row + x + length, colour);
            x += length;
            ink = !ink;
        }
    }
    return image;
}

// Stripes of 4 ink and 4 white pixels: 1000 runs in each row of 8000, so every batch of 2000
// ends exactly at the end of a row and the next one starts on the row below.
QImage stripedPicture(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x)
            row[x] = (x / 4) % 2 == 0 ? qRgb(20, 60, 90) : qRgb(255, 255, 255);
    }
    return image;
}

double threadSeconds() {
    return double(zkThreadClock::ProcessorNs()) / 1e9;
}

// Best of `rounds` runs, in milliseconds of this thread's processor time: the machine is shared,
// and wall-clock time would mostly measure the neighbours.
double bestOf(int rounds, const std::function<void()>& work) {
    double best = 1e300;
    for (int i = 0; i < rounds; ++i) {
        const double start = threadSeconds();
        work();
        best = std::min(best, (threadSeconds() - start) * 1e3);
    }
    return best;
}

void measure(const char* name, const QImage& image, int rounds) {
    // Baseline: one pass over the pixels comparing each with the cut-out colour.
    int64_t cutPixels = 0;
    const double scan = bestOf(rounds, [&] {
        int64_t count = 0;
        for (int y = 0; y < image.height(); ++y) {
            const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
            for (int x = 0; x < image.width(); ++x)
                count += (row[x] & RGB_MASK) == 0xFFFFFFu;
        }
        cutPixels = count;
    });

    qsizetype runs = 0;
    const double collect =
        bestOf(rounds, [&] { runs = BitmapRowRuns(image, 0xFFFFFF, 0, 0).size(); });

    QRegion region;
    const double build = bestOf(rounds, [&] { region = RegionFromBitmap(image, clWhite, 0, 0); });

    std::printf("%-22s %5dx%-5d  %9lld runs  %8lld cut pixels\n", name, image.width(),
                image.height(), static_cast<long long>(runs), static_cast<long long>(cutPixels));
    std::printf("    pixel scan        %10.2f ms   1.00x\n", scan);
    std::printf("    row runs only     %10.2f ms  %5.2fx\n", collect, collect / scan);
    std::printf("    RegionFromBitmap  %10.2f ms  %5.2fx   (%d rectangles in the region)\n", build,
                build / scan, region.rectCount());
}

} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::printf("Splash mask building (processor time, best of several rounds)\n");
    measure("splash-sized, busy", busyPicture(480, 300, 16), 20);
    measure("1920x1080, busy", busyPicture(1920, 1080, 16), 5);
    measure("8000x8000, busy", busyPicture(8000, 8000, 16), 3);
    measure("8000x8000, fine grain", busyPicture(8000, 8000, 3), 2);
    measure("8000x8000, row-aligned", stripedPicture(8000, 8000), 2);
    return 0;
}
