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

// The energy of the picture's edges: the sum of squared steps between neighbouring pixels.
// Blurring spreads a step over several pixels, which makes the sum smaller.
double EdgeEnergy(const QImage& picture) {
    const QImage image = picture.convertToFormat(QImage::Format_RGB32);
    double energy = 0;
    for (int y = 0; y + 1 < image.height(); ++y)
        for (int x = 0; x + 1 < image.width(); ++x) {
            const int here = qGray(image.pixel(x, y));
            const double dx = qGray(image.pixel(x + 1, y)) - here;
            const double dy = qGray(image.pixel(x, y + 1)) - here;
            energy += dx * dx + dy * dy;
        }
    return energy;
}

// How much sharper the picture is than itself brought down to half its pixels and up again:
// about 1 for a picture that was blown up from half its size, clearly more for a sharp one.
double Sharpness(const QImage& picture) {
    const QImage half = picture.scaled(picture.size() / 2, Qt::IgnoreAspectRatio,
                                       Qt::SmoothTransformation);
    const QImage blown =
        half.scaled(picture.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return EdgeEnergy(picture) / std::max(1.0, EdgeEnergy(blown));
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
            const double sharpness = Sharpness(painted);
            QVERIFY2(sharpness >= 1.5,
                     qPrintable(QStringLiteral("%1: %2").arg(item->text(0)).arg(sharpness)));
        }
    }

    void iconsScaleWithoutLimit() {
        // A size no picture was made for comes out as sharp as a small one.
        const QIcon icon = OptionsIcon(TOptionsIcon::Layouts);
        const QImage big = icon.pixmap(QSize(96, 96), 2.0).toImage();
        QCOMPARE(big.size(), QSize(192, 192));
        QVERIFY2(Sharpness(big) >= 1.5, qPrintable(QString::number(Sharpness(big))));
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
