// The Options pages' icons at 200 %: drawn for the screen's pixels, not a small picture blown
// up. Measured on what the page tree paints.
#include "options/zkOptionsForm.h"
#include "options/zkOptionsIcons.h"
#include "zkTestSupport.h"

#include <QApplication>
#include <QLayout>
#include <QTreeWidget>
#include <QtTest>

namespace {

// How much of a picture is more than a picture of half its pixels made larger. Brought down
// to half (each 2 x 2 block averaged, from either corner) and up again by doubling, or smoothly:
// the least part of the picture's variance any of these loses. About 0 for an icon that was
// blown up from a small picture, blocky or blurred; clearly more for one drawn at full size.
double FineDetail(const QImage& picture) {
    const QImage image = picture.convertToFormat(QImage::Format_RGB32);
    const int w = image.width(), h = image.height();
    auto grey = [&image](int x, int y) { return double(qGray(image.pixel(x, y))); };
    double mean = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            mean += grey(x, y);
    mean /= double(w) * h;
    double variance = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            variance += (grey(x, y) - mean) * (grey(x, y) - mean);
    if (variance <= 0)
        return 0;
    double least = variance;
    for (const int offset : {0, 1}) {
        double lost = 0;
        for (int y = offset; y + 1 < h; y += 2)
            for (int x = offset; x + 1 < w; x += 2) {
                const double block =
                    (grey(x, y) + grey(x + 1, y) + grey(x, y + 1) + grey(x + 1, y + 1)) / 4;
                for (const QPoint d : {QPoint(0, 0), QPoint(1, 0), QPoint(0, 1), QPoint(1, 1)})
                    lost +=
                        (grey(x + d.x(), y + d.y()) - block) * (grey(x + d.x(), y + d.y()) - block);
            }
        least = std::min(least, lost);
    }
    const QImage smooth =
        image.scaled(w / 2, h / 2, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
            .scaled(w, h, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    double lost = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const double d = grey(x, y) - qGray(smooth.pixel(x, y));
            lost += d * d;
        }
    least = std::min(least, lost);
    return least / variance;
}

} // namespace

class TOptionsIconsTest : public QObject {
    Q_OBJECT
private slots:
    void iconsAreSharpAtTwiceTheScale() {
        TClientSandbox sandbox;
        TOptionsForm form(nullptr);
        QTreeWidget* tree = form.PagesTreeView;
        // Painted as it would be shown (showing would load the pages, which needs a host).
        form.layout()->activate();
        QCOMPARE(tree->devicePixelRatioF(), 2.0);
        const QImage shot = tree->viewport()->grab().toImage();
        QCOMPARE(shot.devicePixelRatio(), 2.0);
        const QSize icon = tree->iconSize();
        for (int i = 0; i < tree->topLevelItemCount(); ++i) {
            QTreeWidgetItem* item = tree->topLevelItem(i);
            // Every icon has a picture for each size it is asked at, in screen pixels.
            QCOMPARE(item->icon(0).pixmap(icon, 2.0).size(), icon * 2);
            // The icon's square as painted: left in its row, centred in its height.
            const QRect row = tree->visualItemRect(item);
            const QRect square(row.left() + 2, row.center().y() - icon.height() / 2, icon.width(),
                               icon.height());
            const QImage painted = shot.copy(QRect(square.topLeft() * 2, square.size() * 2));
            const double detail = FineDetail(painted);
            // A style icon blown up from 32 pixels gives 0 here; these give 0.05 to 0.08.
            QVERIFY2(detail >= 0.02,
                     qPrintable(QStringLiteral("%1: %2").arg(item->text(0)).arg(detail)));
        }
    }

    void iconsScaleWithoutLimit() {
        // A size no picture was made for comes out as sharp as a small one.
        const QIcon icon = OptionsIcon(TOptionsIcon::Layouts);
        const QImage big = icon.pixmap(QSize(96, 96), 2.0).toImage();
        QCOMPARE(big.size(), QSize(192, 192));
        // Large flat shapes have less fine detail, but not none (about 0.006).
        QVERIFY2(FineDetail(big) >= 0.002, qPrintable(QString::number(FineDetail(big))));
        QVERIFY(!OptionsIcon(TOptionsIcon::Inbox).pixmap(QSize(16, 16)).isNull());
    }
};

int main(int argc, char** argv) {
    // 200 %, as on a 4K screen: set before the application reads it.
    qputenv("QT_SCALE_FACTOR", "2");
    QApplication app(argc, argv);
    TOptionsIconsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_options_icons.moc"
