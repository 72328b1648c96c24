// Libraries opened at first use: a table is handed out only when the library and every function
// it lists are there.
#include "platform/zkSharedLibrary.h"
#include "platform/zkSndfile.h"

#include <QtTest>

#include <cmath>

class TSharedLibraryTest : public QObject {
    Q_OBJECT
private slots:
    void tableIsFilledOnlyWhenComplete();
    void soundDecoderLoadsAndDecodes();
};

namespace {
struct TMathApi {
    double (*cos)(double) = nullptr;
    double (*sqrt)(double) = nullptr;
};
} // namespace

void TSharedLibraryTest::tableIsFilledOnlyWhenComplete() {
    const TMathApi* math = zkShared::Load<TMathApi>("libm.so.6", [](void* h, TMathApi& a) {
        return zkShared::Resolve(h, "cos", a.cos) && zkShared::Resolve(h, "sqrt", a.sqrt);
    });
    QVERIFY(math);
    QCOMPARE(math->sqrt(2.25), 1.5);
    QCOMPARE(math->cos(0.0), 1.0);

    // A library that is there but lacks one function gives no table: no half-filled one whose
    // missing pointer would be called later.
    const TMathApi* partial = zkShared::Load<TMathApi>("libm.so.6", [](void* h, TMathApi& a) {
        return zkShared::Resolve(h, "cos", a.cos) &&
               zkShared::Resolve(h, "no_such_function_here", a.sqrt);
    });
    QVERIFY(!partial);

    const TMathApi* missing =
        zkShared::Load<TMathApi>("libvelquist-no-such-library.so.0", [](void* h, TMathApi& a) {
            return zkShared::Resolve(h, "cos", a.cos);
        });
    QVERIFY(!missing);
}

void TSharedLibraryTest::soundDecoderLoadsAndDecodes() {
    // The decoder's table is the one the sound player uses; one load for every caller.
    const TSndfileApi* sndfile = Sndfile();
    QVERIFY(sndfile);
    QCOMPARE(Sndfile(), sndfile);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QByteArray path = QFile::encodeName(dir.filePath(QStringLiteral("t.wav")));
    SF_INFO info{};
    info.samplerate = 8000;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* out = sndfile->sf_open(path.constData(), SFM_WRITE, &info);
    QVERIFY(out);
    const int16_t frames[] = {1, -1, 300, -300};
    QCOMPARE(sndfile->sf_writef_short(out, frames, 2), sf_count_t(2));
    QCOMPARE(sndfile->sf_close(out), 0);
    SF_INFO read{};
    SNDFILE* in = sndfile->sf_open(path.constData(), SFM_READ, &read);
    QVERIFY(in);
    int16_t back[4] = {};
    QCOMPARE(sndfile->sf_readf_short(in, back, 2), sf_count_t(2));
    sndfile->sf_close(in);
    QCOMPARE(read.channels, 2);
    QCOMPARE(back[2], int16_t(300));
    QCOMPARE(back[3], int16_t(-300));
}

QTEST_GUILESS_MAIN(TSharedLibraryTest)
#include "tst_shared_library.moc"
