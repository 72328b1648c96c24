// The order of the window ring: windows that had the focus, the latest first, then the others
// in order of creation.
#include "platform/zkWindowOrder.h"
#include "platform/zkWindowRing.h"

#include <QDialog>
#include <QtTest>

#include <memory>
#include <vector>

class TWindowRingTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { zkWindowOrder::Install(); }
    void focusedFirstThenCreationOrder();
    void rebuildsInABatchRunOnceAtItsEnd();
};

void TWindowRingTest::focusedFirstThenCreationOrder() {
    // Enough windows that an order taken from a hash would show.
    std::vector<std::unique_ptr<QWidget>> windows;
    QWidgetList created;
    for (int i = 0; i < 12; ++i) {
        // A window made so only after construction counts from then on.
        std::unique_ptr<QWidget> w =
            i == 5 ? std::make_unique<QWidget>() : std::make_unique<QDialog>();
        if (i == 5)
            w->setWindowFlags(Qt::Window);
        w->setObjectName(QString::number(i));
        created << w.get();
        windows.push_back(std::move(w));
    }
    TFormRing ring;
    ring.Rebuild();
    auto order = [&ring] {
        QWidgetList list;
        for (const TFormRingItem& item : std::as_const(ring.Items))
            list << item.Form.data();
        return list;
    };
    QCOMPARE(order(), created);

    // Focus on 7, then 2, then 9: those lead, the most recent first; the rest keep their order.
    for (int i : {7, 2, 9}) {
        created[i]->show();
        created[i]->activateWindow();
        QTRY_VERIFY(created[i]->isActiveWindow());
    }
    // Hidden again: a hidden window keeps its place (it is skipped only when cycling).
    created[2]->hide();
    ring.Rebuild();
    QWidgetList expected = {created[9], created[2], created[7]};
    for (QWidget* w : std::as_const(created))
        if (!expected.contains(w))
            expected << w;
    QCOMPARE(order(), expected);

    // Focus again on an older one moves it to the front.
    created[7]->activateWindow();
    QTRY_VERIFY(created[7]->isActiveWindow());
    ring.Rebuild();
    QCOMPARE(order().mid(0, 3), (QWidgetList{created[7], created[9], created[2]}));

    // A window destroyed goes from the ring at the next rebuild; the order of the rest stays.
    windows[9].reset();
    ring.Rebuild();
    QCOMPARE(order().mid(0, 4), (QWidgetList{created[7], created[2], created[0], created[1]}));
}

void TWindowRingTest::rebuildsInABatchRunOnceAtItsEnd() {
    TFormRing& ring = FormRing();
    std::unique_ptr<QDialog> a, b, c;
    ring.Rebuild();
    const qsizetype before = ring.Items.size();
    {
        const TFormRing::TBatch outer;
        a = std::make_unique<QDialog>();
        ring.Rebuild();
        {
            const TFormRing::TBatch inner;
            b = std::make_unique<QDialog>();
            ring.Rebuild();
        }
        // The inner batch's end does not rebuild while the outer one lives.
        QCOMPARE(ring.Items.size(), before);
    }
    QCOMPARE(ring.Items.size(), before + 2);
    QCOMPARE(ring.Items.at(before).Form.data(), a.get());
    QCOMPARE(ring.Items.at(before + 1).Form.data(), b.get());
    // A batch in which nobody asked for a rebuild leaves the ring as it was.
    {
        const TFormRing::TBatch idle;
        c = std::make_unique<QDialog>();
    }
    QCOMPARE(ring.Items.size(), before + 2);
}

QTEST_MAIN(TWindowRingTest)
#include "tst_window_ring.moc"
