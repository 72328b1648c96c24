#include "config/zkSettings.h"
#include "config/zkUserStore.h"
#include "config/zkWindowRecord.h"
#include "zkTestSupport.h"

#include <QDir>
#include <QGuiApplication>
#include <QPalette>
#include <QTest>

#include <memory>

class TWindowRecordTest : public QObject {
    Q_OBJECT

    std::unique_ptr<TTestHome> Home;
    std::unique_ptr<QTemporaryDir> Cwd;
    QString OldCwd;

    QString file(const QString& name) const { return Cwd->path() + QLatin1Char('/') + name; }

private slots:
    void init() {
        Home = std::make_unique<TTestHome>();
        TUserStore::ResetInstance();
        Cwd = std::make_unique<QTemporaryDir>();
        OldCwd = QDir::currentPath();
        QDir::setCurrent(Cwd->path());
        SetDefaultWindowRecord();
    }
    void cleanup() {
        QDir::setCurrent(OldCwd);
        Cwd.reset();
        TUserStore::ResetInstance();
        Home.reset();
    }

    // The built-in record, written as a file: every key in its stored order with the
    // built-in values, and the key spelled "StartegyConfig".
    void builtInRecordWritesStoredForm() {
        const QString path = file(QStringLiteral("rec.ini"));
        WriteWindowRecord(TSettingsStore::IniFile(path), QStringLiteral("AlertWindow"),
                          DefaultWindowRecord(), true);
        const QByteArray expected = "[AlertWindow]\n"
                                    "Top=20\nLeft=20\nWidth=675\nHeight=335\nWindowState=0\n"
                                    "FontCharset=1\nFontColor=-16777208\nFontHeight=-12\n"
                                    "FontName=Verdana\nFontPitch=0\nFontSize=9\n"
                                    "FontBold=0\nFontItalic=0\nFontUnderline=0\nFontStrikeOut=0\n"
                                    "DataConfig=O=3_3D_0&WN=High%2fLow+Ticker\n"
                                    "WindowConfig=C,9,1,40,2,42,3,37,4,277,5,53,6,51,9,43,11,"
                                    "58,10,48,0,1,21,33\n"
                                    "WindowFileName=\nStartegyConfig=\n";
        QCOMPARE(ReadWholeFile(path), expected);

        // Without the file name (alert-window files) the key is left out altogether.
        const QString path2 = file(QStringLiteral("rec2.ini"));
        WriteWindowRecord(TSettingsStore::IniFile(path2), QStringLiteral("AlertWindow"),
                          DefaultWindowRecord(), false);
        QVERIFY(!ReadWholeFile(path2).contains("WindowFileName"));
    }

    void readingDefaultsEachMissingKey() {
        DefaultWindowRecord().FontName = QStringLiteral("Tahoma"); // a changed default counts
        const QString path = file(QStringLiteral("w.zka"));
        WriteTextFile(path, "[AlertWindow]\nWidth=900\nStrategyConfig=wrong\n"
                            "WindowState=260\nFontCharset=511\nFontPitch=258\n");
        TLayoutInfo r;
        ReadWindowRecord(TSettingsStore::IniFile(path), QStringLiteral("AlertWindow"), r);
        TLayoutInfo expected = DefaultWindowRecord();
        expected.Width = 900;
        expected.WindowState = 4; // low 8 bits only
        expected.FontCharset = 255;
        expected.FontPitch = 2;
        QCOMPARE(r.FontName, QStringLiteral("Tahoma"));
        QVERIFY(r.StrategyConfig.isEmpty()); // the correctly spelt key is not read
        QVERIFY(r == expected);

        WriteTextFile(path, "[AlertWindow]\nStartegyConfig=S=1\n");
        ReadWindowRecord(TSettingsStore::IniFile(path), QStringLiteral("AlertWindow"), r);
        QCOMPARE(r.StrategyConfig, QStringLiteral("S=1"));
    }

    // A window's name and the symbols it shows are names: one with a character that does not
    // show would caption the window as another ("\u202eLPAA" reads "AAPL"), so it is not taken
    // from a window file or a layout. The rest of the configuration stays as written.
    void namesThatDoNotShowAsTheyAreAreNotTaken_data() {
        QTest::addColumn<QByteArray>("dataConfig");
        QTest::addColumn<QString>("taken");
        QTest::newRow("override in the name")
            << QByteArray("O=3&WN=%E2%80%AELPAA&S=MSFT") << QStringLiteral("O=3&S=MSFT");
        QTest::newRow("variation selector in the name")
            << QByteArray("WN=AAPL%EF%B8%8F") << QString();
        QTest::newRow("braille blank in the name, form-encoded")
            << QByteArray("WN=Gap+Up%E2%A0%80&MinPrice=5") << QStringLiteral("MinPrice=5");
        QTest::newRow("escape in the name") << QByteArray("WN=%1B%5B2J&S=") << QStringLiteral("S=");
        QTest::newRow("hidden symbols dropped")
            << QByteArray("WN=Tech&S=AAPL,AA%E2%80%8BPL,MSFT%E3%85%A4,NVDA")
            << QStringLiteral("WN=Tech&S=AAPL,NVDA");
        QTest::newRow("plain names kept")
            << QByteArray("O=3_3D_0&WN=S%26P+500+caf%C3%A9&S=BRK.B,%5EGSPC")
            << QStringLiteral("O=3_3D_0&WN=S%26P+500+caf%C3%A9&S=BRK.B,%5EGSPC");
    }
    void namesThatDoNotShowAsTheyAreAreNotTaken() {
        QFETCH(QByteArray, dataConfig);
        QFETCH(QString, taken);
        const QString path = file(QStringLiteral("w.zka"));
        WriteTextFile(path, "[AlertWindow]\nDataConfig=" + dataConfig + "\nWidth=700\n");
        TLayoutInfo r;
        ReadWindowRecord(TSettingsStore::IniFile(path), QStringLiteral("AlertWindow"), r);
        QCOMPARE(r.DataConfig, taken);
        QCOMPARE(r.Width, 700);
    }

    void perUserStoreRoundTrip() {
        TLayoutInfo r = DefaultWindowRecord();
        r.Top = -40;
        r.FontBold = true;
        r.WindowFileName = QStringLiteral("/x/Gappers.zka");
        r.StrategyConfig = QStringLiteral("S=2");
        const QString key = QStringLiteral("\\Software\\Velquist Client\\Settings\\Layout\\W0");
        WriteWindowRecord(TSettingsStore::Registry(), key, r, true);
        TStoreValue v;
        QVERIFY(TUserStore::Instance().GetValue(key, QStringLiteral("StartegyConfig"), v));
        TLayoutInfo back;
        ReadWindowRecord(TSettingsStore::Registry(), key, back);
        QVERIFY(back == r);
    }

    void loadDefaultWindowRecord() {
        // No file: the folder appears, the record stays.
        LoadDefaultWindowRecord();
        QVERIFY(QFileInfo(file(QStringLiteral("SavedWindows"))).isDir());
        DefaultWindowRecord().Height = 111; // not reset to the built-in values by a load
        WriteTextFile(DefaultWindowFileName(), "[Other]\nWidth=5\n");
        LoadDefaultWindowRecord();
        QCOMPARE(DefaultWindowRecord().Width, 675);

        WriteTextFile(DefaultWindowFileName(), "[AlertWindow]\nWidth=800\nFontName=Arial\n");
        LoadDefaultWindowRecord();
        QCOMPARE(DefaultWindowRecord().Width, 800);
        QCOMPARE(DefaultWindowRecord().FontName, QStringLiteral("Arial"));
        QCOMPARE(DefaultWindowRecord().Height, 111);
        QCOMPARE(DefaultWindowRecord().Top, 20);
    }

    void recordFontToQFont() {
        TLayoutInfo r = DefaultWindowRecord();
        r.FontName = QStringLiteral("DejaVu Sans Mono");
        r.FontPitch = 2;
        r.FontBold = true;
        QFont base;
        base.setItalic(true);
        const QFont f = ApplyRecordFont(base, r);
        QCOMPARE(f.family(), QStringLiteral("DejaVu Sans Mono"));
        QCOMPARE(f.pointSize(), 9); // the size wins over the height
        QVERIFY(f.fixedPitch());
        QVERIFY(f.bold());
        QVERIFY(f.italic()); // a style the record does not set is not taken away

        r.FontSize = 0; // only a height: character height in pixels
        r.FontHeight = -15;
        QCOMPARE(ApplyRecordFont(QFont(), r).pixelSize(), 15);
    }

    void qFontToRecordFont() {
        TLayoutInfo r;
        QFont f(QStringLiteral("Verdana"));
        f.setPixelSize(16);
        f.setUnderline(true);
        r.FontPitch = 1;
        StoreFontInRecord(f, r);
        QCOMPARE(r.FontHeight, -16);
        QCOMPARE(r.FontName, QStringLiteral("Verdana"));
        QCOMPARE(r.FontPitch, uint8_t(1)); // Qt cannot tell variable from default: kept
        QVERIFY(r.FontUnderline && !r.FontBold);

        f.setPointSize(9);
        f.setFixedPitch(true);
        StoreFontInRecord(f, r);
        QCOMPARE(r.FontSize, 9);
        QVERIFY(r.FontHeight < 0);
        QCOMPARE(r.FontPitch, uint8_t(2));
        f.setFixedPitch(false);
        StoreFontInRecord(f, r);
        QCOMPARE(r.FontPitch, uint8_t(0));
    }

    void fontColors() {
        QCOMPARE(ColorFromFontColor(0x000000FF), QColor(255, 0, 0));
        QCOMPARE(ColorFromFontColor(0x00102030), QColor(0x30, 0x20, 0x10));
        const int32_t windowText = -16777208;
        QCOMPARE(ColorFromFontColor(windowText), QGuiApplication::palette().color(QPalette::Text));
        QCOMPARE(ColorFromFontColor(int32_t(0xFF000005)),
                 QGuiApplication::palette().color(QPalette::Base));
        // Unchanged colours keep their form, a changed one becomes 0x00BBGGRR.
        QCOMPARE(FontColorFromColor(ColorFromFontColor(windowText), windowText), windowText);
        QCOMPARE(FontColorFromColor(QColor(1, 2, 3), windowText), 0x00030201);
        QCOMPARE(FontColorFromColor(QColor(), 0x123), 0x123);
    }
};

QTEST_MAIN(TWindowRecordTest)
#include "tst_window_record.moc"
