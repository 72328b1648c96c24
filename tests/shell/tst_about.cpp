#include "shell/zkAboutForm.h"

#include "config/zkConfig.h"
#include "platform/zkShell.h"
#include "zkTestSupport.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

namespace {

TConfigInfo brandedConfig(const QString& aboutURL) {
    TConfigInfo config;
    config.ApplicationTitle = QStringLiteral("Acme Alerts");
    config.ApplicationVersion = QStringLiteral("Version 4.2 (build 1187)");
    config.CopyrightString = QStringLiteral("Copyright (c) 2024 Acme Markets Ltd. All rights "
                                            "reserved.");
    config.AboutURL = aboutURL;
    return config;
}

QString labelText(const QWidget& form, const char* name) {
    const auto* label = form.findChild<QLabel*>(QString::fromLatin1(name));
    return label ? label->text() : QStringLiteral("<no %1>").arg(QString::fromLatin1(name));
}

} // namespace

class TAboutTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        zkShell::SetRecording(true);
        zkShell::ClearOpened();
    }

    void filledFromTheConfiguration_data() {
        QTest::addColumn<QString>("aboutURL");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("target");
        QTest::newRow("caption and address") << "Acme on the web|https://acme.example/"
                                             << "Acme on the web"
                                             << "https://acme.example/";
        QTest::newRow("split at the first bar only") << "Home|https://acme.example/?a=1|b=2"
                                                     << "Home"
                                                     << "https://acme.example/?a=1|b=2";
        QTest::newRow("no bar") << "https://acme.example/"
                                << "https://acme.example/"
                                << "";
        QTest::newRow("empty") << ""
                               << ""
                               << "";
        QTest::newRow("address only") << "|https://acme.example/"
                                      << ""
                                      << "https://acme.example/";
    }
    void filledFromTheConfiguration() {
        QFETCH(QString, aboutURL);
        QFETCH(QString, caption);
        QFETCH(QString, target);
        const TAboutForm form(brandedConfig(aboutURL));
        QCOMPARE(form.windowTitle(), QStringLiteral("About Acme Alerts"));
        QCOMPARE(labelText(form, "ApplicationTitleLabel"), QStringLiteral("Acme Alerts"));
        QCOMPARE(labelText(form, "ApplicationVersionLabel"),
                 QStringLiteral("Version 4.2 (build 1187)"));
        QCOMPARE(labelText(form, "CopyrightStringLabel"),
                 QStringLiteral("Copyright (c) 2024 Acme Markets Ltd. All rights reserved."));
        QCOMPARE(labelText(form, "AboutURLLabel"), caption);
        QCOMPARE(form.linkCaption(), caption);
        QCOMPARE(form.linkTarget(), target);
        // The client area is exactly 298 x 213, and everything in it fits.
        QCOMPARE(form.size(), QSize(298, 213));
        const QSize needed = form.layout()->minimumSize();
        QVERIFY2(needed.width() <= 298 && needed.height() <= 213,
                 qPrintable(QStringLiteral("%1 x %2").arg(needed.width()).arg(needed.height())));
    }

    void defaultConstructionReadsTheProcessConfiguration() {
        const TConfigInfo saved = ConfigInfo();
        ConfigInfo() = brandedConfig(QStringLiteral("Site|https://acme.example/"));
        ConfigInfo().ApplicationTitle = QStringLiteral("Rebranded");
        const TAboutForm form;
        ConfigInfo() = saved;
        QCOMPARE(form.windowTitle(), QStringLiteral("About Rebranded"));
        QCOMPARE(form.linkTarget(), QStringLiteral("https://acme.example/"));
    }

    void linkClickOpensTheTarget() {
        TAboutForm form(brandedConfig(QStringLiteral("Acme|https://acme.example/about")));
        form.show();
        auto* link = form.findChild<QLabel*>(QStringLiteral("AboutURLLabel"));
        QVERIFY(link);
        QCOMPARE(link->cursor().shape(), Qt::PointingHandCursor);
        QTest::mouseClick(link, Qt::LeftButton, {}, link->rect().center());
        QCOMPARE(zkShell::Opened(), QStringList({QStringLiteral("https://acme.example/about")}));
        // Other buttons do not follow the link.
        QTest::mouseClick(link, Qt::RightButton, {}, link->rect().center());
        QCOMPARE(zkShell::Opened().size(), 1);
    }

    void localTargetIsOpenedFromTheInstallation() {
        QTemporaryDir install;
        const QString old = QDir::currentPath();
        QVERIFY(QDir::setCurrent(install.path()));
        TAboutForm form(brandedConfig(QStringLiteral("Read me|/docs/about.html")));
        form.show();
        auto* link = form.findChild<QLabel*>(QStringLiteral("AboutURLLabel"));
        QTest::mouseClick(link, Qt::LeftButton, {}, link->rect().center());
        const QString expected = QDir::currentPath() + QStringLiteral("/docs/about.html");
        QDir::setCurrent(old);
        QCOMPARE(zkShell::Opened(), QStringList({expected}));
    }

    void captionWithoutAddressOpensNothing() {
        TAboutForm form(brandedConfig(QStringLiteral("acme.example")));
        form.show();
        auto* link = form.findChild<QLabel*>(QStringLiteral("AboutURLLabel"));
        QVERIFY(link);
        QCOMPARE(link->cursor().shape(), Qt::ArrowCursor);
        QTest::mouseClick(link, Qt::LeftButton, {}, link->rect().center());
        QVERIFY(zkShell::Opened().isEmpty());
    }

    void okClosesTheDialogWithOK() {
        TAboutForm form(brandedConfig(QString()));
        form.open();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        auto* ok = form.findChild<QPushButton*>(QStringLiteral("OKButton"));
        QVERIFY(ok);
        QCOMPARE(ok->text(), QStringLiteral("OK"));
        QVERIFY(ok->isDefault());
        QTest::mouseClick(ok, Qt::LeftButton);
        QVERIFY(!form.isVisible());
        QCOMPARE(form.result(), int(QDialog::Accepted));

        // Enter takes the default button too, and the dialog can be shown again.
        form.open();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QTest::keyClick(&form, Qt::Key_Return);
        QVERIFY(!form.isVisible());
        QCOMPARE(form.result(), int(QDialog::Accepted));
    }

    void showsTheApplicationIcon() {
        const QIcon old = QApplication::windowIcon();
        QPixmap red(64, 64);
        red.fill(Qt::red);
        QApplication::setWindowIcon(QIcon(red));
        const TAboutForm form(brandedConfig(QString()));
        QApplication::setWindowIcon(old);
        auto* icon = form.findChild<QLabel*>(QStringLiteral("ProgramIcon"));
        QVERIFY(icon);
        QCOMPARE(icon->size(), QSize(32, 32));
        const QImage shown = icon->pixmap().toImage();
        QVERIFY(!shown.isNull());
        QCOMPARE(shown.pixelColor(shown.width() / 2, shown.height() / 2), QColor(Qt::red));
    }
};

QTEST_MAIN(TAboutTest)
#include "tst_about.moc"
