// The application's style wrapper: the menu bar's overflow arrow is made when first drawn,
// looks as the chosen style draws it, and the image-format plugins wait for it; widgets that
// draw according to the style still see the style's own name.
#include "desktop/zkClientStyle.h"

#include <QApplication>
#include <QFile>
#include <QMainWindow>
#include <QMenuBar>
#include <QProxyStyle>
#include <QStyleFactory>
#include <QtTest>

namespace {

bool ImagePluginsLoaded() {
    QFile maps(QStringLiteral("/proc/self/maps"));
    return maps.open(QIODevice::ReadOnly) && maps.readAll().contains("/imageformats/");
}

} // namespace

class TClientStyleTest : public QObject {
    Q_OBJECT

private slots:
    // First, in a process that has read no image yet.
    void aMenuBarLoadsNoImagePluginsUntilItsArrowIsDrawn() {
        QVERIFY(!ImagePluginsLoaded());
        const QString chosen = QApplication::style()->name();
        zkClientStyle::Install();
        zkClientStyle::Install(); // once is enough; again changes nothing
        QCOMPARE(zkClientStyle::BaseName(QApplication::style()), chosen);
        QVERIFY(qobject_cast<QProxyStyle*>(QApplication::style()));
        QCOMPARE(qobject_cast<QProxyStyle*>(QApplication::style())->baseStyle()->name(), chosen);

        QMainWindow window;
        window.menuBar()->addMenu(QStringLiteral("&File"));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QVERIFY(!ImagePluginsLoaded());

        // Drawn, the arrow is the chosen style's own.
        const QStyle* base = qobject_cast<QProxyStyle*>(QApplication::style())->baseStyle();
        for (const auto which : {QStyle::SP_ToolBarHorizontalExtensionButton,
                                 QStyle::SP_ToolBarVerticalExtensionButton}) {
            const QIcon lazy = QApplication::style()->standardIcon(which);
            QVERIFY(!lazy.isNull());
            const QImage drawn = lazy.pixmap(QSize(16, 16)).toImage();
            QVERIFY(!drawn.isNull());
            QCOMPARE(drawn, base->standardIcon(which).pixmap(QSize(16, 16)).toImage());
            QCOMPARE(lazy.availableSizes(), base->standardIcon(which).availableSizes());
        }
        QVERIFY(ImagePluginsLoaded());
        // Every other icon comes from the style as it was.
        const QImage close = QApplication::style()
                                 ->standardIcon(QStyle::SP_DialogCloseButton)
                                 .pixmap(QSize(16, 16))
                                 .toImage();
        QCOMPARE(close,
                 base->standardIcon(QStyle::SP_DialogCloseButton).pixmap(QSize(16, 16)).toImage());
    }

    void baseNameLooksThroughEveryWrapper() {
        QProxyStyle inner(QStyleFactory::create(QStringLiteral("Fusion")));
        QCOMPARE(zkClientStyle::BaseName(&inner), QStringLiteral("fusion"));
        auto* outer = new QProxyStyle(QStyleFactory::create(QStringLiteral("Windows")));
        QCOMPARE(zkClientStyle::BaseName(outer), QStringLiteral("windows"));
        delete outer;
        QCOMPARE(zkClientStyle::BaseName(nullptr), QString());
    }
};

QTEST_MAIN(TClientStyleTest)
#include "tst_client_style.moc"
